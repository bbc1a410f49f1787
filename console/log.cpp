#include "console/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console/notice.h"

namespace {

const int64_t LinkCheckMilliseconds = 2000;
const size_t ShownPathLength = 32;

// The end of a long path says more than its start, and the status line is
// short: Cut(path) is "..." when Shown(path) is only its end.
const char* Shown(const char* path) {
    size_t length = std::strlen(path);
    return length > ShownPathLength ? path + length - ShownPathLength : path;
}
const char* Cut(const char* path) { return Shown(path) == path ? "" : "..."; }

PlainFile OpenForAppending(const char* option, const char* path, int* fd, char* problem, unsigned capacity) {
    *fd = -1;
    if (path[0] == '\0') return PlainFile::Opened;
    PlainFile result = OpenPlainFile(path, O_WRONLY | O_CREAT | O_APPEND, true, fd);
    if (result == PlainFile::Failed) {
        std::snprintf(problem, capacity, "%s %s: cannot open the log: %s", option, path,
                      std::strerror(errno));
    } else if (result != PlainFile::Opened) {
        std::snprintf(problem, capacity, "%s %s: %s (give a file, or /dev/null)", option, path,
                      PlainFileProblem(result, 0));
    }
    return result;
}

}  // namespace

ReceiveLog::~ReceiveLog() {
    char ignored[8];
    Close(ignored, sizeof ignored);
}

PlainFile ReceiveLog::Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
                           unsigned capacity) {
    char ignored[8];
    Close(ignored, sizeof ignored);
    timestamps_ = timestamps;
    std::snprintf(text_.path, sizeof text_.path, "%s", textPath);
    std::snprintf(raw_.path, sizeof raw_.path, "%s", rawPath);
    text_.removedReported = raw_.removedReported = false;
    text_.writer.written = raw_.writer.written = 0;
    PlainFile result = OpenForAppending("--log", textPath, &text_.writer.fd, problem, capacity);
    if (result == PlainFile::Opened) {
        result = OpenForAppending("--log-raw", rawPath, &raw_.writer.fd, problem, capacity);
    }
    if (result != PlainFile::Opened) Close(ignored, sizeof ignored);
    return result;
}

void ReceiveLog::Stamp() {
    if (lineArrived_.tv_sec != stampSecond_) {
        struct tm local;
        localtime_r(&lineArrived_.tv_sec, &local);
        strftime(stampText_, sizeof stampText_, "[%Y-%m-%d %H:%M:%S", &local);
        stampSecond_ = lineArrived_.tv_sec;
    }
    char stamp[48];
    int n = std::snprintf(stamp, sizeof stamp, "%s.%03ld] ", stampText_, lineArrived_.tv_nsec / 1000000);
    for (int i = 0; i < n && i < int(sizeof stamp); ++i) text_.writer.Put(uint8_t(stamp[i]));
}

void ReceiveLog::ReceivedRaw(const uint8_t* bytes, unsigned count) {
    if (raw_.writer.fd < 0) return;
    for (unsigned i = 0; i < count; ++i) raw_.writer.Put(bytes[i]);
}

void ReceiveLog::ReceivedText(const uint8_t* bytes, unsigned count, const struct timespec& arrived) {
    if (text_.writer.fd < 0) return;
    for (unsigned i = 0; i < count; ++i) {
        if (!lineBegun_) {
            lineArrived_ = arrived;
            lineBegun_ = true;
        }
        uint8_t out[2];
        unsigned n = ends_.Next(uint8_t(bytes[i] & SevenBits), out);
        for (unsigned j = 0; j < n; ++j) {
            if (stampDue_ && timestamps_) Stamp();
            stampDue_ = false;
            text_.writer.Put(out[j]);
            if (out[j] == LineFeed) {
                stampDue_ = true;
                lineBegun_ = false;
            }
        }
    }
}

// Closes `file`, having written out what waits; false with `text` when a
// write or the close failed.
bool ReceiveLog::End(File& file, char* text, unsigned capacity) {
    int failure = file.writer.Flush();
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
    if (!stampDue_) text_.writer.Put(LineFeed);  // the host's line so far stays whole
    clock_gettime(CLOCK_REALTIME, &lineArrived_);
    if (timestamps_) Stamp();
    for (const char* at = text; *at != '\0'; ++at) text_.writer.Put(uint8_t(*at));
    text_.writer.Put(LineFeed);
    stampDue_ = true;
    lineBegun_ = false;
}

bool ReceiveLog::Flush(char* text, unsigned capacity) {
    bool ok = true;
    for (File* file : {&text_, &raw_}) {
        if (file->writer.fd < 0) continue;
        file->writer.WriteOut();
        // The first failure is said; the other log's, if any, at its next flush.
        if (ok && file->writer.failure != 0) ok = End(*file, text, capacity);
        if (ok && RotateIfDue(rotation_, file->path, file->writer, text, capacity) == Rotated::Failed)
            ok = false;
    }
    return ok;
}

bool ReceiveLog::CheckRemoved(int64_t now, char* text, unsigned capacity) {
    if (now < nextLinkCheck_) return false;
    nextLinkCheck_ = now + LinkCheckMilliseconds;
    for (File* file : {&text_, &raw_}) {
        struct stat status;
        if (file->writer.fd < 0 || file->removedReported || fstat(file->writer.fd, &status) != 0) continue;
        if (status.st_nlink > 0) continue;
        file->removedReported = true;
        std::snprintf(text, capacity, "%s %s%s was removed or renamed away: what it gets now is lost at exit",
                      file->kind, Cut(file->path), Shown(file->path));
        return true;
    }
    return false;
}

bool ReceiveLog::Close(char* text, unsigned capacity) {
    bool ok = true;
    if (text_.writer.fd >= 0) {
        uint8_t held[1];
        if (ends_.Finish(held) == 1) {
            if (stampDue_ && timestamps_) Stamp();
            text_.writer.Put(held[0]);
        }
        ok = End(text_, text, capacity);
    }
    char second[NoticeCapacity + PathCapacity];  // the first failure is the one said
    if (raw_.writer.fd >= 0 && !End(raw_, ok ? text : second, ok ? capacity : sizeof second)) ok = false;
    return ok;
}
