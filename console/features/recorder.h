// --record FILE: the session's recording (recording.h) as it happens: what
// each line received and sent and what was done to it, with the time.
//
// The file is made as a log is (a regular file or /dev/null, never waited
// on, private: log_file.h), its header written at once, and events gather
// in a buffer that goes out once a pass of the loop (WriteOut) or when it
// fills, so a crash loses at most the last pass. With --log-max it rotates
// as a log does, at an event's edge, each file a whole recording with its
// own header. A write that fails (a full disk) ends the recording, and
// TakeProblem says so once; the session goes on.
#ifndef BRISVANE_CONSOLE_RECORDER_H
#define BRISVANE_CONSOLE_RECORDER_H

#include <cstdint>
#include <memory>

#include "console/features/log_file.h"
#include "console/rules/log_rotation.h"
#include "console/features/plain_file.h"
#include "console/rules/recording.h"
#include "console/rules/sink.h"

class Recorder {
public:
    static constexpr unsigned BufferCapacity = 256u << 10;

    // Makes `path` (appending is not a recording: it is started anew) and
    // writes `header`. Refused as a log is; *error holds errno on Failed.
    PlainFile Open(const char* path, const RecordingHeader& header, const LogRotation& rotation,
                   const LogFileMode& mode, int* error);
    bool Active() const { return fd_ >= 0; }

    // One event now (or at `micros`, µs on the monotonic clock).
    void Event(RecordKind kind, uint8_t line, const uint8_t* payload, unsigned length);
    void EventAt(int64_t micros, RecordKind kind, uint8_t line, const uint8_t* payload, unsigned length);
    void Text(RecordKind kind, uint8_t line, const char* text);
    // Bytes sent, with what sent them.
    void Sent(RecordSource source, uint8_t line, const uint8_t* bytes, unsigned count);

    // Writes out what waits. On a failure the recording ends.
    void WriteOut();
    // Once, after the recording ended on a failure: true with why.
    bool TakeProblem(char* text, unsigned capacity);
    // Writes out and closes; false (why in `text`) when the last write failed.
    bool Close(char* text, unsigned capacity);

private:
    bool Write(const uint8_t* bytes, unsigned long long count);
    bool Rotate();
    void Fail(int error);

    int fd_ = -1;
    char path_[PathCapacity] = "";
    LogRotation rotation_ = {};
    LogFileMode mode_;
    std::unique_ptr<uint8_t[]> buffer_;
    unsigned length_ = 0;
    unsigned long long size_ = 0;  // what the current file holds
    char header_[4096];
    unsigned headerLength_ = 0;
    int64_t start_ = 0, last_ = 0;  // µs, monotonic
    char problem_[PathCapacity + 64] = "";
    bool problemSaid_ = true;
};

// The recorder as a raw sink: what a line received, under its index. With
// several lines every line's sink feeds the first line's recorder, so the
// sink follows where its line's events go.
class RecorderSink : public ReceiveSink {
public:
    RecorderSink(Recorder* const& recorder, const uint8_t& line) : recorder_(recorder), line_(line) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override {
        if (recorder_->Active()) recorder_->Event(RecordKind::Received, line_, bytes, count);
    }

private:
    Recorder* const& recorder_;
    const uint8_t& line_;
};

#endif
