// The sinks of the receive chain that stand for modules which know nothing
// of it: the raw and the text log, the raw and the text capture, the boot
// marks. Each takes
// its bytes only while its module is active. None keeps a backlog of its
// own: the logs buffer and report a failed write themselves, a capture
// writes through the shared file rules.
#ifndef BRISVANE_CONSOLE_RECEIVE_SINKS_H
#define BRISVANE_CONSOLE_RECEIVE_SINKS_H

#include "console/features/log.h"
#include "console/features/marks.h"
#include "console/rules/sink.h"
#include "console/rules/text_rules.h"

class RawLogSink : public ReceiveSink {
public:
    explicit RawLogSink(ReceiveLog& log) : log_(log) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override {
        if (log_.Active()) log_.ReceivedRaw(bytes, count);
    }

private:
    ReceiveLog& log_;
};

class TextLogSink : public ReceiveSink {
public:
    explicit TextLogSink(ReceiveLog& log) : log_(log) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec& arrived) override {
        if (log_.Active()) log_.ReceivedText(bytes, count, arrived);
    }

private:
    ReceiveLog& log_;
};

// Boot timers look for their patterns in the text.
class MarksSink : public ReceiveSink {
public:
    explicit MarksSink(Marks& marks) : marks_(marks) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec& arrived) override {
        MatchMarks(marks_, bytes, count, arrived);
    }

private:
    Marks& marks_;
};

// A raw capture: the bytes as they came.
class RawCaptureSink : public ReceiveSink {
public:
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override;
};

// A text capture: bit 7 cleared, Unix line ends.
class TextCaptureSink : public ReceiveSink {
public:
    explicit TextCaptureSink(UnixLineEnds& lineEnds) : lineEnds_(lineEnds) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override;

private:
    UnixLineEnds& lineEnds_;
};

#endif
