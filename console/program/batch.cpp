#include "console/program/batch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "console/program/console.h"
#include "console/program/send.h"
#include "console/program/tests.h"

namespace {

const unsigned InputPiece = 4096;

// The end of input, all of it written, and no script to end the run
// instead: the linger starts.
bool LingerStarts(const Session& c) {
    return !c.features.batch.pagesOnly && c.features.batch.inputEnded &&
           c.features.batch.endsAt == NoDeadline && !ScriptRunning(c.features.script) &&
           c.options.scriptPath[0] == '\0' && c.pump.Waiting() == 0 && c.pump.StageEmpty();
}

}  // namespace

bool StartBatch(Session& c, bool on, bool timeline, int64_t now) {
    c.features.batch.on = on;
    if (c.options.timeoutSeconds > 0)
        c.features.batch.timeoutAt = now + int64_t(c.options.timeoutSeconds) * 1000;
    if (!on) return true;
    c.features.batch.pagesOnly = c.options.replayPath[0] != '\0' && c.options.web[0] != '\0';
    if (c.features.batch.pagesOnly) return true;
    if (!c.features.batch.output.Allocate(BatchBacklog)) return false;
    c.features.batch.output.raw = c.options.raw;
    if (timeline) return true;  // the program writes the timeline's rows to it instead
    return AddSink(c.chain, c.options.raw ? SinkStage::Raw : SinkStage::Text, c.features.batch.output);
}

int BatchInputDescriptor(const Session& c) {
    if (c.features.batch.pagesOnly || c.features.batch.inputEnded || c.link.state != LinkState::Open)
        return -1;
    return TypedCapacity - c.pump.Waiting() >= InputPiece ? STDIN_FILENO : -1;
}

void ReadBatchInput(Session& c, int64_t) {
    uint8_t bytes[InputPiece];
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (count <= 0) {
        c.features.batch.inputEnded = true;
        return;
    }
    Send(c, SendSource::BatchInput, bytes, unsigned(count));  // room was there: see BatchInputDescriptor
}

int BatchOutputDescriptor(const Session& c) {
    return c.features.batch.on && c.features.batch.output.Waiting() ? STDOUT_FILENO : -1;
}

Reaction WriteBatchOutput(Session& c) {
    if (c.features.batch.output.WriteTo(STDOUT_FILENO)) return Nothing;
    c.features.batch.cutShort = true;
    return Leave(c, 128 + SIGPIPE);  // nobody reads: end as a pipe's writer does
}

Reaction BatchDue(Session& c, int64_t now) {
    if (!c.features.batch.on) return Nothing;
    if (c.notice.text[0] != '\0') {
        std::fprintf(stderr, "brisvane: %s\n", c.notice.text);
        Forget(c.notice);
    }
    // With a script, the script's end ends the run.
    if (LingerStarts(c)) c.features.batch.endsAt = now + c.options.lingerMilliseconds;
    return now >= c.features.batch.endsAt ? Leave(c, ChecksFailed(c) ? 1 : 0) : Nothing;
}

int64_t BatchDeadline(const Session& c) {
    if (!c.features.batch.on) return NoDeadline;
    // Notices go out at once, and the linger starts once the input is written.
    if (c.notice.text[0] != '\0' || LingerStarts(c)) return 0;
    return c.features.batch.endsAt;
}

int64_t RunTimeoutDue(const Session& c) { return c.features.batch.timeoutAt; }

Reaction RunTimedOut(Session& c, int64_t) {
    c.features.batch.timedOut = c.features.batch.cutShort = true;
    return Leave(c, TimedOutExitCode);
}

namespace {

// Standard input to the line it names (the first by default), no screen: notices and script lines go to
// standard error.
class BatchFront : public FrontEnd {
public:
    bool HoldKeys(const Console&, int64_t) const override { return false; }
    struct pollfd Input(const Console& c, bool) const override {
        return {BatchInputDescriptor(Shown(c)), POLLIN, 0};
    }
    Reaction ReadInput(Console& c, short revents, bool, int64_t now) override {
        if (revents == 0) return Nothing;
        Enter(c, Shown(c));
        ReadBatchInput(Shown(c), now);
        return Nothing;
    }
    int64_t FrameDue(const Console&) const override { return NoDeadline; }
    void Draw(Console&, int64_t) override {}
    void Signal(Console&, int) override {}
    void Tell(Session&, const char* text, bool fault) override {
        std::fprintf(stderr, "%s%s\n", fault ? "brisvane: " : "", text);
    }
    bool ScriptEndsRun() const override { return true; }
};

}  // namespace

std::unique_ptr<FrontEnd> BatchFrontEnd() { return std::unique_ptr<FrontEnd>(new BatchFront()); }
