#include "console/loop.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "console/commands.h"
#include "console/connection.h"
#include "console/input.h"
#include "console/receive.h"
#include "console/signals.h"
#include "console/status.h"
#include "core/screen.h"

namespace {

const int64_t FrameMilliseconds = 16;
const int64_t HeldCheckMilliseconds = 1000;  // output waiting this long: is CTS low?
const int64_t DrainMilliseconds = 1000;      // at exit, for a capture to catch up
const int DrainPollMilliseconds = 20;
const int WriteRoundsPerPass = 16;  // then input gets its turn again
const int ReadsPerPass = 16;        // then keys and the frame get theirs

// The one place a reaction is carried out, and so the one way out.
void Apply(Console& c, Reaction reaction) {
    if (reaction & RedrawAll) RedrawDisplay(c.display);
    if (reaction & Quit) c.quit = true;
}

// Output that has waited a while with RTS/CTS on: a low CTS is the usual
// reason (a cable without the wire), so say so.
void CheckHeldOutput(Console& c, int64_t now) {
    if (c.heldReported || now < c.outputWaitingSince + HeldCheckMilliseconds) return;
    c.heldReported = true;
    ModemLines lines;
    if (!c.controls.hardwareFlow || c.line->ReadModemLines(&lines) != ControlResult::Done || lines.cts) return;
    char prefix[16];
    FormatPrefixKey(c.options.prefixKey, prefix, sizeof prefix);
    Say(c.notice, "output held: CTS is low (no CTS wire? %s f turns flow control off)", prefix);
    c.redraw = true;
}

// Feeds the stage (a send, else what was typed) and writes it as the line
// takes it.
void PumpOutput(Console& c, int64_t now) {
    if (c.link != LinkState::Open) return;
    uint32_t interval = c.options.characterInterval;
    for (int round = 0; round < WriteRoundsPerPass; ++round) {
        if (c.pump.StageEmpty()) {
            bool textSend = CurrentTransferModes().send == SendState::SendText;
            if (SendRunning() && FeedSend(c.transfers, c.pump, now, interval, c.options.sevenBit)) {
                Say(c.notice, "send finished: %llu bytes", (unsigned long long)c.transfers.sendDone);
            }
            if (textSend && !c.pump.StageEmpty()) {
                unsigned staged;
                const uint8_t* bytes = c.pump.Pending(&staged);
                EchoQueued(c, bytes, staged);
            }
            if (!SendRunning()) c.pump.StageQueued(now, interval);
        }
        unsigned length;
        const uint8_t* bytes = c.pump.Pending(&length);
        if (length == 0) break;
        unsigned written = 0;
        IoResult result = c.line->Write(bytes, length, &written);
        if (result == IoResult::Lost) {
            Apply(c, LineLost(c, now));
            return;
        }
        if (written > 0) {
            c.counters.sent += written;
            c.pump.Wrote(written, now, interval);
            c.redraw = true;  // progress
        }
        if (result == IoResult::WouldBlock || written < length) break;
    }
    if (c.pump.StageEmpty() && c.pump.Waiting() == 0) {
        c.outputWaitingSince = NoDeadline;
        c.heldReported = false;
    } else if (c.outputWaitingSince == NoDeadline && !c.pump.WaitsForPace(now, interval)) {
        c.outputWaitingSince = now;
    }
}

// `count` bytes read into the console's block: stamped with the time they
// arrived, received, and counted for a capture.
void TakeIn(Console& c, ReceiveTargets& targets, unsigned count) {
    struct timespec arrived;
    clock_gettime(CLOCK_REALTIME, &arrived);
    c.counters.received += count;
    ReceiveBlock(targets, c.readBlock, count, arrived);
    if (Capturing()) CaptureWritten(c.transfers, count, c.notice);
    c.redraw = true;
}

// `hungUp`: poll reported a hang-up or error, so a line with nothing to
// read is gone rather than quiet.
void ReadLine(Console& c, int64_t now, bool hungUp) {
    ReceiveTargets targets = ReceiveTargetsOf(c);
    c.readMore = false;
    int reads = 0;
    for (; reads < ReadsPerPass; ++reads) {
        unsigned count = 0;
        IoResult result = c.line->Read(c.readBlock, sizeof c.readBlock, &count);
        if (result == IoResult::Lost) {
            Apply(c, LineLost(c, now));
            return;
        }
        if (result == IoResult::WouldBlock) {
            if (hungUp && reads == 0) Apply(c, LineLost(c, now));
            break;
        }
        if (count == 0) continue;  // only protocol bytes
        TakeIn(c, targets, count);
    }
    c.readMore = reads == ReadsPerPass;
    if (c.log.Active()) {
        int failure = c.log.Flush();
        if (failure != 0) Say(c.notice, "log: writing failed: %s", std::strerror(failure));
    }
}

void ReadKeys(Console& c, int64_t now) {
    wint_t code;
    int kind;
    while (!c.quit && (kind = wget_wch(stdscr, &code)) != ERR) {
        if (kind == KEY_CODE_YES && code == KEY_RESIZE) continue;  // SIGWINCH handles it
        Apply(c, HandleKey(c, int(code), kind == KEY_CODE_YES, now));
        // Out at once, so keys typed or pasted together flow while the line takes them.
        PumpOutput(c, now);
    }
}

void HandleSignals(Console& c, int signalPipe) {
    int number;
    while ((number = NextSignal(signalPipe)) != 0) {
        if (number == SIGWINCH) {
            ResizeDisplay(c.display);
        } else if (number == SIGCONT) {
            ResumeDisplay(c.display);  // the shell may have changed the terminal meanwhile
        } else {
            Apply(c, Leave(c, 128 + number));
        }
    }
}

void Flush(Console& c, int64_t now) {
    Frame frame;
    frame.markRow = -1;
    frame.markColumn = frame.markLength = 0;
    if (c.helpOpen) {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &c.helpCells[r * ScreenColumns];
    } else if (c.view.open) {
        ViewRows(c.view, c.history, screen.cells);
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &c.view.rows[r * ScreenColumns];
        if (c.view.haveMatch && c.view.matchRow >= c.view.top && c.view.matchRow < c.view.top + ScreenRows) {
            frame.markRow = int(c.view.matchRow - c.view.top);
            frame.markColumn = c.view.matchColumn;
            frame.markLength = int(std::strlen(c.view.search));
            if (frame.markColumn + frame.markLength > ScreenColumns) frame.markLength = ScreenColumns - frame.markColumn;
        }
    } else {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &screen.cells[r * ScreenColumns];
    }
    char status[StatusCapacity];
    frame.status = status;
    frame.statusCursor = ComposeStatus(c, CurrentTransferModes(), DisplayWidth(c.display), status, sizeof status);
    frame.cursorRow = terminal.row;
    frame.cursorColumn = terminal.column;
    frame.cursorVisible = !c.view.open && !c.helpOpen;
    FlushDisplay(c.display, frame);
    c.redraw = false;
    c.lastFlush = now;
}

void Due(Console& c, int64_t now) {
    EndTimedControls(c, now);
    if (c.link == LinkState::Open && c.outputWaitingSince != NoDeadline) CheckHeldOutput(c, now);
    RetryIfDue(c, now);
}

int Timeout(const Console& c, int64_t now) {
    uint32_t interval = c.options.characterInterval;
    int64_t deadlines[] = {
        c.redraw ? c.lastFlush + FrameMilliseconds : NoDeadline,
        c.readMore && c.link == LinkState::Open ? now : NoDeadline,
        ConnectionDeadline(c),
        c.pump.WaitsForPace(now, interval) || (CurrentTransferModes().send == SendState::SendText && c.pump.StageEmpty())
            ? c.pump.NextPaced()
            : NoDeadline,
        c.breakEndsAt,
        c.dtrBackAt,
        c.heldReported || c.outputWaitingSince == NoDeadline ? NoDeadline
                                                             : c.outputWaitingSince + HeldCheckMilliseconds,
    };
    return PollTimeout(now, deadlines, sizeof deadlines / sizeof deadlines[0]);
}

// Leaving during a capture: what the host sent before is still read and
// written, for as long as the line keeps delivering (at most a second).
void DrainLineForCapture(Console& c) {
    int64_t deadline = MonotonicMilliseconds() + DrainMilliseconds;
    ReceiveTargets targets = ReceiveTargetsOf(c);
    while (Capturing() && c.link == LinkState::Open && MonotonicMilliseconds() < deadline) {
        struct pollfd probe = {c.line->Descriptor(), POLLIN, 0};
        if (poll(&probe, 1, DrainPollMilliseconds) <= 0 || (probe.revents & POLLIN) == 0) return;
        unsigned count = 0;
        if (c.line->Read(c.readBlock, sizeof c.readBlock, &count) != IoResult::Done) return;
        TakeIn(c, targets, count);
    }
}

}  // namespace

void RunLoop(Console& c, int signalPipe) {
    c.lastFlush = MonotonicMilliseconds() - FrameMilliseconds;
    c.redraw = true;
    while (!c.quit) {
        int64_t now = MonotonicMilliseconds();
        Due(c, now);
        NoteLineOpen(c.counters, c.link == LinkState::Open, now);
        PumpOutput(c, now);
        if (c.redraw && now - c.lastFlush >= FrameMilliseconds) Flush(c, now);

        int lineFd = c.link != LinkState::Down ? c.line->Descriptor() : -1;
        struct pollfd fds[3] = {
            {STDIN_FILENO, POLLIN, 0},
            {signalPipe, POLLIN, 0},
            {lineFd, lineFd >= 0 ? c.line->PollEvents(!c.pump.StageEmpty()) : short(0), 0},
        };
        nfds_t count = lineFd >= 0 ? 3 : 2;
        if (poll(fds, count, Timeout(c, now)) < 0 && errno != EINTR) {
            Apply(c, Leave(c, 1));
            break;
        }
        now = MonotonicMilliseconds();
        // Whatever woke the loop may have changed what is shown; the flush
        // draws only what differs, at most once a frame.
        c.redraw = true;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        if (fds[0].revents & POLLIN) ReadKeys(c, now);
        // A hung-up terminal also reads as ready; without this the loop spins.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            Apply(c, Leave(c, 128 + SIGHUP));  // the user's terminal is gone
        }
        // A key may have lost the line meanwhile: its events are stale then.
        if (c.quit || lineFd < 0 || c.line->Descriptor() != lineFd) continue;
        short events = fds[2].revents;
        if (c.link == LinkState::Connecting) {
            if (events != 0) ContinueConnecting(c, events, now);
        } else if ((events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) || c.readMore) {
            ReadLine(c, now, (events & (POLLHUP | POLLERR | POLLNVAL)) != 0);
        }
        if (c.link == LinkState::Open && (events & POLLOUT) && c.pump.StageEmpty()) {
            // The line's own bytes (a network line's commands) go out too.
            unsigned written;
            if (c.line->Write(nullptr, 0, &written) == IoResult::Lost) Apply(c, LineLost(c, now));
        }
    }
    DrainLineForCapture(c);
}
