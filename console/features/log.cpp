#include "console/features/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/rules/notice.h"

namespace {

const int64_t LinkCheckMilliseconds = 2000;
const uint8_t BackspaceByte = 8, EscapeByte = 27, DeleteByte = 127;
const size_t ShownPathLength = 32;

// The end of a long path says more than its start, and the status line is
// short: Cut(path) is "..." when Shown(path) is only its end.
const char* Shown(const char* path) {
    size_t length = std::strlen(path);
    return length > ShownPathLength ? path + length - ShownPathLength : path;
}
const char* Cut(const char* path) { return Shown(path) == path ? "" : "..."; }

}  // namespace

ReceiveLog::~ReceiveLog() {
    char ignored[8];
    Close(ignored, sizeof ignored);
}

PlainFile ReceiveLog::OpenFile(File& file, const char* option, const char* path, char* problem,
                               unsigned capacity) {
    std::snprintf(file.path, sizeof file.path, "%s", path);
    file.writer.fd = -1;
    if (path[0] == '\0') return PlainFile::Opened;
    PlainFile result = OpenLogFile(path, mode_, true, &file.writer.fd);
    if (result == PlainFile::Failed) {
        std::snprintf(problem, capacity, "%s %s: cannot open the log: %s", option, path,
                      std::strerror(errno));
    } else if (result != PlainFile::Opened) {
        std::snprintf(problem, capacity, "%s %s: %s (give a file, or /dev/null)", option, path,
                      PlainFileProblem(result, 0));
    }
    file.writer.Began(path, rotation_, mode_);
    return result;
}

void ReceiveLog::SetRotation(const LogRotation& rotation) {
    rotation_ = rotation;
    for (File* file : {&text_, &raw_}) {
        if (file->writer.fd >= 0) file->writer.Began(file->path, rotation_, mode_);
    }
}

PlainFile ReceiveLog::Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
                           unsigned capacity) {
    char ignored[8];
    Close(ignored, sizeof ignored);
    timestamps_ = timestamps || logSent_;
    clock_gettime(CLOCK_REALTIME, &started_);
    previous_ = started_;
    lineBegun_ = false;
    lineLength_ = column_ = sentLength_ = 0;
    sentEscape_ = 0;
    PlainFile result = OpenFile(text_, "--log", textPath, problem, capacity);
    if (result == PlainFile::Opened) result = OpenFile(raw_, "--log-raw", rawPath, problem, capacity);
    if (result != PlainFile::Opened) Close(ignored, sizeof ignored);
    return result;
}

void ReceiveLog::SetStamps(bool on, const StampStyle& style, bool sent) {
    timestamps_ = on || sent;
    style_ = style;
    logSent_ = sent;
}

const char* ReceiveLog::NextStamps() {
    if (!timestamps_) {
        style_.format = StampFormat::Clock;
        timestamps_ = true;
    } else if (style_.format == StampFormat::EpochMicro) {
        timestamps_ = false;
        return "off";
    } else {
        style_.format = NextStampFormat(style_.format);
    }
    return StampFormatName(style_);
}

void ReceiveLog::Stamp(const struct timespec& at, const char* mark) {
    if (timestamps_) {
        char stamp[StampCapacity];
        unsigned n = FormatStamp(style_, at, started_, previous_, stamp, sizeof stamp, &stampCache_);
        for (unsigned i = 0; i < n; ++i) text_.writer.Put(uint8_t(stamp[i]));
        previous_ = at;
    }
    if (logSent_) {
        for (const char* m = mark; *m != '\0'; ++m) text_.writer.Put(uint8_t(*m));
    }
}

// The line as shown, stamped with its first byte's time.
void ReceiveLog::EndLine() {
    Stamp(lineArrived_, "< ");
    for (unsigned i = 0; i < lineLength_; ++i) text_.writer.Put(line_[i]);
    text_.writer.Put(LineFeed);
    lineLength_ = column_ = 0;
    lineBegun_ = false;
}

void ReceiveLog::ReceivedRaw(const uint8_t* bytes, unsigned count) {
    if (raw_.writer.fd < 0) return;
    for (unsigned i = 0; i < count; ++i) raw_.writer.Put(bytes[i]);
}

void ReceiveLog::ReceivedText(const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
    if (text_.writer.fd < 0) return;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t byte = bytes[i] & SevenBits;
        if (!lineBegun_) {
            lineArrived_ = arrived;
            lineBegun_ = true;
        }
        switch (byte) {
            case LineFeed: EndLine(); break;
            case CarriageReturn: column_ = 0; break;
            case BackspaceByte:
                if (column_ > 0) --column_;
                break;
            default:
                if (column_ == LineCapacity) {  // a line longer than any screen's: written in pieces
                    EndLine();
                    lineArrived_ = arrived;
                    lineBegun_ = true;
                }
                line_[column_++] = byte;
                if (column_ > lineLength_) lineLength_ = column_;
                break;
        }
    }
}

void ReceiveLog::Sent(const uint8_t* bytes, unsigned count) {
    if (text_.writer.fd < 0 || !logSent_) return;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t byte = bytes[i] & SevenBits;
        // A key's escape sequence (an arrow, an identify reply) is no text.
        if (sentEscape_ == 1) {
            sentEscape_ = byte == '[' || byte == 'O' ? 2 : byte == '/' ? 3 : 0;
            continue;
        }
        if (sentEscape_ == 3) {  // the identify reply's last byte
            sentEscape_ = 0;
            continue;
        }
        if (sentEscape_ == 2) {
            if (byte >= 0x40) sentEscape_ = 0;
            continue;
        }
        if (byte == EscapeByte) {
            sentEscape_ = 1;
            continue;
        }
        bool ends = byte == CarriageReturn || byte == LineFeed;
        if (byte == BackspaceByte || byte == DeleteByte) {
            if (sentLength_ > 0) --sentLength_;
        } else if (!ends && (byte >= ' ' || byte == '\t')) {
            sent_[sentLength_++] = byte;
        }
        if (sentLength_ == SentCapacity || (ends && sentLength_ > 0)) {
            // The host's line in progress stays whole: it is written at its own end.
            struct timespec now;
            clock_gettime(CLOCK_REALTIME, &now);
            Stamp(now, "> ");
            for (unsigned j = 0; j < sentLength_; ++j) text_.writer.Put(sent_[j]);
            text_.writer.Put(LineFeed);
            sentLength_ = 0;
        }
    }
}

// Closes `file`, having written out what waits; false with `text` when a
// write or the close failed.
bool ReceiveLog::End(File& file, char* text, unsigned capacity) {
    int failure = file.writer.Flush();
    if (file.writer.TakeProblem(text, capacity)) return false;  // a rotation failed: the file is closed
    struct stat status;
    unsigned long long holds =
        fstat(file.writer.fd, &status) == 0 ? (unsigned long long)status.st_size : file.writer.written;
    if (close(file.writer.fd) != 0 && failure == 0) failure = errno;
    file.writer.fd = -1;
    file.writer.length = 0;
    if (failure == 0) return true;
    std::snprintf(text, capacity, "%s %s%s: %s; holds %llu bytes, the rest is lost", file.kind,
                  Cut(file.path), Shown(file.path), std::strerror(failure), holds);
    return false;
}

void ReceiveLog::Note(const char* text) {
    if (text_.writer.fd < 0) return;
    if (lineBegun_) EndLine();  // the host's line so far comes first, whole
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    Stamp(now, "");
    for (const char* at = text; *at != '\0'; ++at) text_.writer.Put(uint8_t(*at));
    text_.writer.Put(LineFeed);
}

bool ReceiveLog::Flush(char* text, unsigned capacity) {
    bool ok = true;
    for (File* file : {&text_, &raw_}) {
        file->writer.WriteOut();  // rotating where due
        // The first failure is said; the other log's, if any, at its next flush.
        if (ok && file->writer.TakeProblem(text, capacity)) ok = false;
        if (ok && file->writer.fd >= 0 && file->writer.failure != 0) ok = End(*file, text, capacity);
    }
    return ok;
}

bool ReceiveLog::CheckRemoved(int64_t now, char* text, unsigned capacity) {
    if (now < nextLinkCheck_) return false;
    nextLinkCheck_ = now + LinkCheckMilliseconds;
    for (File* file : {&text_, &raw_}) {
        struct stat status, named;
        LogWriter& writer = file->writer;
        if (writer.fd < 0 || !writer.Regular() || fstat(writer.fd, &status) != 0) continue;
        bool removed = status.st_nlink == 0, moved = false;
        if (!removed && stat(file->path, &named) == 0) {
            moved = named.st_ino != status.st_ino || named.st_dev != status.st_dev;
        } else if (!removed) {
            moved = errno == ENOENT;
        }
        if (!removed && !moved) continue;
        const char* how = removed ? "removed" : "renamed away";
        char why[NoticeCapacity];
        if (!writer.Reopen(why, sizeof why)) {
            std::snprintf(text, capacity, "%s %s%s was %s and %s: the log ends", file->kind, Cut(file->path),
                          Shown(file->path), how, why);
        } else {
            // What went to the removed file meanwhile went with it.
            std::snprintf(text, capacity, "%s %s%s was %s: made again%s", file->kind, Cut(file->path),
                          Shown(file->path), how, removed ? ", what it got meanwhile is lost" : "");
        }
        return true;
    }
    return false;
}

bool ReceiveLog::Close(char* text, unsigned capacity) {
    bool ok = true;
    if (text_.writer.fd >= 0) {
        if (lineBegun_) EndLine();  // the last line, whole, though the host did not end it
        ok = End(text_, text, capacity);
    }
    char second[NoticeCapacity + PathCapacity];  // the first failure is the one said
    if (raw_.writer.fd >= 0 && !End(raw_, ok ? text : second, ok ? capacity : sizeof second)) ok = false;
    return ok;
}
