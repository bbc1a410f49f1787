#include "console/features/recorder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "console/line/clock.h"

PlainFile Recorder::Open(const char* path, const RecordingHeader& header, const LogRotation& rotation,
                         const LogFileMode& mode, int* error) {
    *error = 0;
    headerLength_ = WriteRecordingHeader(header, header_, sizeof header_);
    buffer_.reset(new (std::nothrow) uint8_t[BufferCapacity]);
    if (headerLength_ == 0 || !buffer_) {
        *error = ENOMEM;
        return PlainFile::Failed;
    }
    int fd = -1;
    PlainFile opened = OpenLogFile(path, mode, true, &fd);
    if (opened != PlainFile::Opened) {
        *error = errno;
        return opened;
    }
    // A recording starts at its header: what the file held before goes.
    if (ftruncate(fd, 0) != 0 && errno != EINVAL) {
        *error = errno;
        close(fd);
        return PlainFile::Failed;
    }
    fd_ = fd;
    std::snprintf(path_, sizeof path_, "%s", path);
    rotation_ = rotation;
    mode_ = mode;
    start_ = last_ = MonotonicMicroseconds();
    size_ = 0;
    length_ = 0;
    problemSaid_ = true;
    if (!Write(reinterpret_cast<const uint8_t*>(header_), headerLength_)) {
        *error = errno;
        close(fd_);
        fd_ = -1;
        return PlainFile::Failed;
    }
    return PlainFile::Opened;
}

void Recorder::Fail(int error) {
    std::snprintf(problem_, sizeof problem_, "the recording %s ended: %s (what came before is in it)", path_,
                  std::strerror(error));
    problemSaid_ = false;
    close(fd_);
    fd_ = -1;
    length_ = 0;
}

bool Recorder::Write(const uint8_t* bytes, unsigned long long count) {
    while (count > 0) {
        ssize_t n = write(fd_, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        bytes += n;
        count -= (unsigned long long)n;
        size_ += (unsigned long long)n;
    }
    return true;
}

// A new file at the same name, the old ones moved on as logs' are.
bool Recorder::Rotate() {
    close(fd_);
    fd_ = -1;
    int error = RotateLogFiles(path_, rotation_.keep);
    if (error != 0) {
        Fail(error);
        return false;
    }
    int fd = -1;
    if (OpenLogFile(path_, mode_, true, &fd) != PlainFile::Opened) {
        int why = errno != 0 ? errno : EINVAL;
        fd_ = -1;
        std::snprintf(problem_, sizeof problem_, "the recording %s ended: %s", path_, std::strerror(why));
        problemSaid_ = false;
        return false;
    }
    fd_ = fd;
    size_ = 0;
    // The new file's events run on from its own header; times stay the session's.
    return Write(reinterpret_cast<const uint8_t*>(header_), headerLength_);
}

void Recorder::EventAt(int64_t micros, RecordKind kind, uint8_t line, const uint8_t* payload,
                       unsigned length) {
    if (fd_ < 0) return;
    if (length > RecordingMaxPayload) {  // never from a read; kept whole in pieces all the same
        for (unsigned done = 0; done < length; done += RecordingMaxPayload) {
            unsigned piece = length - done < RecordingMaxPayload ? length - done : RecordingMaxPayload;
            EventAt(micros, kind, line, payload + done, piece);
        }
        return;
    }
    int64_t delta = micros > last_ ? micros - last_ : 0;
    last_ += delta;
    uint8_t frame[RecordingEventHeaderMax];
    unsigned framed = EncodeEvent(frame, kind, line, uint64_t(delta), length);
    unsigned long long whole = framed + (unsigned long long)length;
    if (rotation_.maxBytes > 0 && size_ + length_ + whole > rotation_.maxBytes &&
        size_ + length_ > headerLength_) {
        WriteOut();
        if (fd_ < 0 || !Rotate()) {
            if (fd_ >= 0) Fail(errno);
            return;
        }
    }
    if (length_ + whole > BufferCapacity) WriteOut();
    if (fd_ < 0) return;
    if (whole > BufferCapacity) {  // larger than the buffer: straight out
        if (!Write(frame, framed) || !Write(payload, length)) Fail(errno);
        return;
    }
    std::memcpy(buffer_.get() + length_, frame, framed);
    if (length > 0) std::memcpy(buffer_.get() + length_ + framed, payload, length);
    length_ += unsigned(whole);
}

void Recorder::Event(RecordKind kind, uint8_t line, const uint8_t* payload, unsigned length) {
    if (fd_ >= 0) EventAt(MonotonicMicroseconds(), kind, line, payload, length);
}

void Recorder::Text(RecordKind kind, uint8_t line, const char* text) {
    Event(kind, line, reinterpret_cast<const uint8_t*>(text), unsigned(std::strlen(text)));
}

void Recorder::Sent(RecordSource source, uint8_t line, const uint8_t* bytes, unsigned count) {
    if (fd_ < 0 || count == 0) return;
    uint8_t piece[4097];
    piece[0] = uint8_t(source);
    for (unsigned done = 0; done < count; done += 4096) {
        unsigned n = count - done < 4096 ? count - done : 4096;
        std::memcpy(piece + 1, bytes + done, n);
        Event(RecordKind::Sent, line, piece, n + 1);
    }
}

void Recorder::WriteOut() {
    if (fd_ < 0 || length_ == 0) return;
    unsigned count = length_;
    length_ = 0;
    if (!Write(buffer_.get(), count)) Fail(errno);
}

bool Recorder::TakeProblem(char* text, unsigned capacity) {
    if (problemSaid_) return false;
    problemSaid_ = true;
    std::snprintf(text, capacity, "%s", problem_);
    return true;
}

bool Recorder::Close(char* text, unsigned capacity) {
    WriteOut();
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    return !TakeProblem(text, capacity);
}
