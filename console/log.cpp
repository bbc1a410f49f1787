#include "console/log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int OpenForAppending(const char* path, char* problem, unsigned capacity) {
    if (path[0] == '\0') return -1;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) std::snprintf(problem, capacity, "%s: cannot open the log: %s", path, std::strerror(errno));
    return fd;
}

}  // namespace

bool ReceiveLog::Open(const char* textPath, const char* rawPath, bool timestamps, char* problem,
                      unsigned capacity) {
    Close();
    timestamps_ = timestamps;
    text_.fd = OpenForAppending(textPath, problem, capacity);
    if (textPath[0] != '\0' && text_.fd < 0) return false;
    raw_.fd = OpenForAppending(rawPath, problem, capacity);
    if (rawPath[0] != '\0' && raw_.fd < 0) {
        Close();
        return false;
    }
    return true;
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
    for (int i = 0; i < n && i < int(sizeof stamp); ++i) text_.Put(uint8_t(stamp[i]));
}

void ReceiveLog::Received(const uint8_t* raw, unsigned rawCount, const uint8_t* bytes, unsigned count,
                          const struct timespec& arrived) {
    if (raw_.fd >= 0) {
        for (unsigned i = 0; i < rawCount; ++i) raw_.Put(raw[i]);
    }
    if (text_.fd < 0) return;
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
            text_.Put(out[j]);
            if (out[j] == LineFeed) {
                stampDue_ = true;
                lineBegun_ = false;
            }
        }
    }
}

int ReceiveLog::Flush() {
    int textFailure = text_.fd >= 0 ? text_.Flush() : 0;
    int rawFailure = raw_.fd >= 0 ? raw_.Flush() : 0;
    return textFailure != 0 ? textFailure : rawFailure;
}

void ReceiveLog::Close() {
    if (text_.fd >= 0) {
        uint8_t held[1];
        if (ends_.Finish(held) == 1) {
            if (stampDue_ && timestamps_) Stamp();
            text_.Put(held[0]);
        }
        text_.Flush();
        close(text_.fd);
        text_.fd = -1;
    }
    if (raw_.fd >= 0) {
        raw_.Flush();
        close(raw_.fd);
        raw_.fd = -1;
    }
}
