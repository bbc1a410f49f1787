#include "console/batch.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "console/commands.h"
#include "console/console.h"
#include "console/serve/served.h"

namespace {

const unsigned InputPiece = 4096;
const unsigned OutputPiece = 4096;  // what a pipe that polls writable takes without blocking

bool InputWritten(const Console& c) { return c.pump.Waiting() == 0 && c.pump.StageEmpty(); }

}  // namespace

void StartBatch(Console& c, bool on, int64_t now) {
    c.batch.on = on;
    if (c.options.timeoutSeconds > 0) c.batch.timeoutAt = now + int64_t(c.options.timeoutSeconds) * 1000;
}

int BatchInputDescriptor(const Console& c) {
    if (c.batch.inputEnded || c.link != LinkState::Open || c.options.serve) return -1;  // --serve reads none
    return TypedCapacity - c.pump.Waiting() >= InputPiece ? STDIN_FILENO : -1;
}

void ReadBatchInput(Console& c, int64_t) {
    uint8_t bytes[InputPiece];
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (count <= 0) {
        c.batch.inputEnded = true;
        return;
    }
    for (ssize_t i = 0; i < count; ++i) bytes[i] = Originated(bytes[i], c.options.sevenBit);
    c.pump.Queue(bytes, unsigned(count), false);  // room was there: see BatchInputDescriptor
}

Reaction WriteBatchOutput(Console& c, const uint8_t* bytes, unsigned count) {
    if (!c.batch.on || c.quit || c.options.serve) return Nothing;  // --serve writes none
    uint8_t out[ReadBlockSize + AnsiFilterSlack];
    if (!c.options.raw) {
        // As the screen would have it: colour sequences hidden, bit 7 clear.
        c.batch.ansi.hide = c.ansi.hide;
        c.batch.ansi.eightBit = c.ansi.eightBit;
        count = FilterAnsi(c.batch.ansi, bytes, count, out);
        for (unsigned i = 0; i < count; ++i) out[i] &= SevenBits;
    } else {
        std::memcpy(out, bytes, count);
    }
    unsigned done = 0;
    while (done < count) {
        // A reader that stops reading holds the loop here, but not past the timeout.
        int64_t left = c.batch.timeoutAt == NoDeadline ? -1 : c.batch.timeoutAt - MonotonicMilliseconds();
        struct pollfd out_ready = {STDOUT_FILENO, POLLOUT, 0};
        int ready = left < 0 && c.batch.timeoutAt != NoDeadline
                        ? 0
                        : poll(&out_ready, 1, left > INT32_MAX ? -1 : int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) {
            c.batch.timedOut = true;
            return Leave(c, TimedOutExitCode);
        }
        unsigned piece = count - done < OutputPiece ? count - done : OutputPiece;
        ssize_t n = write(STDOUT_FILENO, out + done, piece);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Leave(c, 128 + SIGPIPE);  // nobody reads: end as a pipe's writer does
        done += unsigned(n);
    }
    return Nothing;
}

Reaction BatchDue(Console& c, int64_t now) {
    if (now >= c.batch.timeoutAt) {
        c.batch.timedOut = true;
        return Leave(c, TimedOutExitCode);
    }
    if (!c.batch.on) return Nothing;
    if (c.notice.text[0] != '\0') {
        if (c.options.serve) {
            SayServed(c.notice.text);
        } else {
            std::fprintf(stderr, "brisvane: %s\n", c.notice.text);
        }
        Forget(c.notice);
    }
    // With a script, the script's end ends the run.
    if (c.batch.inputEnded && !ScriptRunning(c.script) && c.options.scriptPath[0] == '\0') {
        if (c.batch.endsAt == NoDeadline && InputWritten(c))
            c.batch.endsAt = now + c.options.lingerMilliseconds;
        if (now >= c.batch.endsAt) return Leave(c, 0);
    }
    return Nothing;
}

int64_t BatchDeadline(const Console& c) {
    if (c.batch.on && c.batch.inputEnded && c.batch.endsAt == NoDeadline && InputWritten(c)) return 0;
    return c.batch.endsAt < c.batch.timeoutAt ? c.batch.endsAt : c.batch.timeoutAt;
}
