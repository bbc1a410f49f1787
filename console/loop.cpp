#include "console/loop.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "console/batch.h"
#include "console/commands.h"
#include "console/connection.h"
#include "console/input.h"
#include "console/receive.h"
#include "console/share.h"
#include "console/web/web_console.h"
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
// Keys read in one pass: a paste goes out in runs, and the line and the
// screen are served between them.
const unsigned KeysPerPass = 4096;
// A paste waits in the terminal while this little room is left for it and
// the line still takes bytes; a line that took nothing for a second no
// longer holds the keys back (the menu key must get through).
const unsigned PasteRoom = 3 * KeysPerPass;
const int64_t Bit7NoticeMilliseconds = 15000;

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
    if (!c.controls.hardwareFlow || c.line->ReadModemLines(&lines) != ControlResult::Done || lines.cts)
        return;
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
        if (c.pump.StageEmpty() && c.protocol.active) {
            FeedProtocolOutput(c.protocol, c.pump);
        } else if (c.pump.StageEmpty()) {
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
            c.lastWrite = now;
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

// True when bytes could go now: staged, queued and not waiting for their
// pace, or a send's next block (a paced one is woken by its deadline).
bool HaveOutput(const Console& c, int64_t now) {
    uint32_t interval = c.options.characterInterval;
    if (!c.pump.StageEmpty()) return true;
    if (c.pump.Waiting() > 0 && !c.pump.WaitsForPace(now, interval)) return true;
    TransferModes modes = CurrentTransferModes();
    return modes.send != SendState::Idle && !(modes.send == SendState::SendText && interval > 0);
}

// `count` bytes read into the console's block: stamped with the time they
// arrived, received, and counted for a capture.
void TakeIn(Console& c, ReceiveTargets& targets, unsigned count) {
    struct timespec arrived;
    clock_gettime(CLOCK_REALTIME, &arrived);
    c.ansi.eightBit = c.controls.settings.dataBits == 8;
    if (!c.options.sevenBit && c.ansi.eightBit &&
        HostEchoesBit7(c.bit7, c.readBlock, count, MonotonicMilliseconds())) {
        SayUntil(c.notice, MonotonicMilliseconds() + Bit7NoticeMilliseconds,
                 "the host sees bit 7: the menu key then 7 clears it (--seven-bit)");
    }
    c.counters.received += count;
    ReceiveBlock(targets, c.readBlock, count, arrived);
    ShareReceived(c.share, c.notice, c.readBlock, count);
    Apply(c, WriteBatchOutput(c, c.readBlock, count));
    if (Capturing()) CaptureWritten(c.transfers, c.notice);
    c.redraw = true;
}

// `hungUp`: poll reported a hang-up or error, so a line with nothing to
// read is gone rather than quiet.
void ReadLine(Console& c, int64_t now, bool hungUp) {
    ReceiveTargets targets = ReceiveTargetsOf(c);
    c.readMore = false;
    int reads = 0;
    for (; reads < ReadsPerPass; ++reads) {
        // During a transfer the bytes are the protocol's: for its command
        // alone, taken only as fast as it reads them.
        unsigned room = sizeof c.readBlock;
        uint8_t* into = c.protocol.active ? ProtocolInputRoom(c.protocol, &room) : c.readBlock;
        if (into == nullptr) {  // the command has not taken the last bytes yet
            if (hungUp && reads == 0) Apply(c, LineLost(c, now));
            break;
        }
        unsigned count = 0;
        IoResult result = c.line->Read(into, room, &count);
        if (result == IoResult::Lost) {
            Apply(c, LineLost(c, now));
            return;
        }
        if (result == IoResult::WouldBlock) {
            if (hungUp && reads == 0) Apply(c, LineLost(c, now));
            break;
        }
        if (count == 0) continue;  // only protocol bytes
        if (c.protocol.active) {
            ProtocolReceived(c.protocol, count);
            c.redraw = true;
        } else {
            TakeIn(c, targets, count);
        }
    }
    c.readMore = reads == ReadsPerPass;
    char note[NoticeCapacity];
    if (c.line->TakeNote(note, sizeof note)) Say(c.notice, "%s", note);
    if (c.log.Active()) {
        char text[NoticeCapacity];
        if (!c.log.Flush(text, sizeof text) || c.log.CheckRemoved(now, text, sizeof text))
            Say(c.notice, "%s", text);
    }
}

// True while keys should wait in the terminal: what waits for the line is
// near full, the line is moving it, and no pacing stretches it out.
bool HoldKeys(const Console& c, int64_t now) {
    return c.link == LinkState::Open && c.pump.Waiting() > TypedCapacity - PasteRoom &&
           c.options.characterInterval == 0 && now - c.lastWrite < OutputStalledMilliseconds;
}

const unsigned PasteBlock = 4096;
const unsigned HandBack = 64;  // bytes given back to curses at a time: its queue is small

// One block of a paste straight from the terminal; false when none waits.
// What came after the end bracket goes back to curses, in order.
bool ReadPaste(Console& c) {
    struct pollfd probe = {STDIN_FILENO, POLLIN, 0};
    if (poll(&probe, 1, 0) <= 0 || (probe.revents & POLLIN) == 0) return false;
    unsigned room = TypedCapacity - c.pump.Waiting();
    // A full queue reads on once the line stopped: the paste's notice says what was lost.
    uint8_t block[PasteBlock];
    ssize_t got = read(STDIN_FILENO, block, room > 0 && room < PasteBlock ? room : PasteBlock);
    if (got <= 0) return false;
    unsigned taken = PasteText(c, block, unsigned(got));
    std::memcpy(c.keyBacklog, block + taken, unsigned(got) - taken);
    c.backlogStart = 0;
    c.backlogEnd = unsigned(got) - taken;
    return true;
}

// Hands curses the next few bytes read past a paste, once it ran dry.
bool HandBackKeys(Console& c) {
    if (c.backlogStart == c.backlogEnd) return false;
    unsigned left = c.backlogEnd - c.backlogStart;
    unsigned count = left < HandBack ? left : HandBack;
    // An escape sequence is not cut in two: curses would take its start for Escape.
    for (unsigned k = count; count < left && k > 1 && k + 8 > count; --k) {
        if (c.keyBacklog[c.backlogStart + k - 1] == EscapeKey) {
            count = k - 1;
            break;
        }
    }
    for (unsigned i = count; i > 0; --i) ungetch(c.keyBacklog[c.backlogStart + i - 1]);
    c.backlogStart += count;
    c.cursesHolds = true;
    return true;
}

// A bounded run of keys, then what they queued goes out in as few writes as
// the line takes. A paste's text is read in blocks, past curses, whenever
// curses holds nothing.
void ReadKeys(Console& c, int64_t now) {
    wint_t code;
    int kind = OK;
    unsigned keys = 0;
    for (; keys < KeysPerPass && !c.quit && !HoldKeys(c, now); ++keys) {
        if (c.inPaste && !c.cursesHolds && c.backlogStart == c.backlogEnd) {
            if (!ReadPaste(c)) {
                kind = ERR;
                break;
            }
            keys += PasteBlock / 16;  // a block counts for a few keys: a pass reads up to 64 KiB
            continue;
        }
        if ((kind = wget_wch(stdscr, &code)) == ERR) {
            c.cursesHolds = false;
            if (HandBackKeys(c)) {
                kind = OK;
                continue;
            }
            break;
        }
        if (kind == KEY_CODE_YES && code == KEY_RESIZE) continue;  // SIGWINCH handles it
        Apply(c, HandleKey(c, int(code), kind == KEY_CODE_YES, now));
    }
    // curses may hold keys it read ahead, which poll() cannot see.
    c.keysMore = (kind != ERR || c.backlogStart != c.backlogEnd) && !c.quit;
    PumpOutput(c, now);
}

void HandleSignals(Console& c, int signalPipe) {
    int number;
    while ((number = NextSignal(signalPipe)) != 0) {
        if (c.batch.on && (number == SIGWINCH || number == SIGCONT)) continue;  // no screen
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
            if (frame.markColumn + frame.markLength > ScreenColumns)
                frame.markLength = ScreenColumns - frame.markColumn;
        }
    } else {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &screen.cells[r * ScreenColumns];
    }
    char status[StatusCapacity];
    frame.status = status;
    frame.statusCursor =
        ComposeStatus(c, CurrentTransferModes(), DisplayWidth(c.display), status, sizeof status);
    frame.cursorRow = terminal.row;
    frame.cursorColumn = terminal.column;
    frame.cursorVisible = !c.view.open && !c.helpOpen;
    FlushDisplay(c.display, frame);
    ShowWebPages(c);
    c.redraw = false;
    c.lastFlush = now;
}

void Due(Console& c, int64_t now) {
    EndTimedControls(c, now);
    if (c.notice.expires != 0 && now >= c.notice.expires) Forget(c.notice);
    if (c.link == LinkState::Open && c.outputWaitingSince != NoDeadline) CheckHeldOutput(c, now);
    Apply(c, RetryIfDue(c, now));
    if (c.link != LinkState::Open) ProtocolLineGone(c.protocol, now);
    Apply(c, RunScript(c, now));
    Apply(c, BatchDue(c, now));
}

int Timeout(const Console& c, int64_t now) {
    uint32_t interval = c.options.characterInterval;
    int64_t deadlines[] = {
        c.redraw && !c.batch.on ? c.lastFlush + FrameMilliseconds : NoDeadline,
        c.readMore && c.link == LinkState::Open ? now : NoDeadline,
        c.keysMore && !HoldKeys(c, now) ? now : NoDeadline,
        HoldKeys(c, now) ? c.lastWrite + OutputStalledMilliseconds : NoDeadline,  // keys again if it stalls
        ConnectionDeadline(c),
        c.pump.WaitsForPace(now, interval) ||
                (CurrentTransferModes().send == SendState::SendText && c.pump.StageEmpty())
            ? c.pump.NextPaced()
            : NoDeadline,
        c.notice.expires != 0 ? c.notice.expires : NoDeadline,
        c.breakEndsAt,
        c.dtrBackAt,
        ProtocolDeadline(c.protocol, now),
        ScriptDeadline(c),
        BatchDeadline(c),
        WebPagesDeadline(const_cast<Console&>(c), now),
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
        // A capture that failed now would be said on a screen about to go.
        if (!Capturing()) std::snprintf(c.failedAtExit, sizeof c.failedAtExit, "%s", c.notice.text);
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
        if (c.redraw && !c.batch.on && now - c.lastFlush >= FrameMilliseconds) Flush(c, now);
        if (c.batch.on) ShowWebPages(c);  // no display: the pages are shown at each pass

        int lineFd = c.link != LinkState::Down ? c.line->Descriptor() : -1;
        bool holdKeys = !c.batch.on && HoldKeys(c, now);
        short lineEvents = lineFd >= 0 ? c.line->PollEvents(HaveOutput(c, now)) : short(0);
        if (!ProtocolTakesInput(c.protocol)) lineEvents &= short(~POLLIN);
        struct pollfd fds[3 + ProtocolPollCount + ShareMaxDescriptors + WebMaxDescriptors] = {
            {c.batch.on ? BatchInputDescriptor(c) : STDIN_FILENO, holdKeys ? short(0) : short(POLLIN), 0},
            {signalPipe, POLLIN, 0},
            {lineFd, lineEvents, 0},  // poll skips it while there is no line
        };
        nfds_t count = 3 + ProtocolPollFds(c.protocol, c.pump.StageEmpty(), &fds[3]);
        ShareTargets sharing = {c.pump, c.notice, c.link == LinkState::Open, c.options.sevenBit};
        struct pollfd* shareFds = fds + count;
        unsigned shared = ShareDescriptors(c.share, sharing, shareFds);
        count += shared;
        struct pollfd* webFds = fds + count;
        unsigned webCount = WebPagesDescriptors(c, webFds);
        count += webCount;
        if (poll(fds, count, Timeout(c, now)) < 0 && errno != EINTR) {
            Apply(c, Leave(c, 1));
            break;
        }
        now = MonotonicMilliseconds();
        // Whatever woke the loop may have changed what is shown; the flush
        // draws only what differs, at most once a frame.
        c.redraw = true;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        if (c.batch.on) {
            if (fds[0].revents != 0) ReadBatchInput(c, now);
        } else if ((fds[0].revents & POLLIN) || (c.keysMore && !HoldKeys(c, now))) {
            ReadKeys(c, now);
        }
        // A hung-up terminal also reads as ready; without this the loop spins.
        if (!c.batch.on && (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
            Apply(c, Leave(c, 128 + SIGHUP));  // the user's terminal is gone
        }
        ServeProtocol(c.protocol, c.pump, c.notice, now);
        sharing.lineOpen = c.link == LinkState::Open;
        ServeShare(c.share, sharing, shareFds, shared);
        ServeWebPages(c, webFds, webCount);
        // A key may have lost the line meanwhile: its events are stale then.
        if (c.quit || lineFd < 0 || c.line->Descriptor() != lineFd) continue;
        short events = fds[2].revents;
        char note[NoticeCapacity];
        if (c.link == LinkState::Connecting) {
            if (events != 0) Apply(c, ContinueConnecting(c, events, now));
        } else if ((events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) || c.readMore) {
            ReadLine(c, now, (events & (POLLHUP | POLLERR | POLLNVAL)) != 0);
        }
        if (c.link == LinkState::Open && (events & POLLOUT) && c.pump.StageEmpty()) {
            // The line's own bytes (a network line's commands) go out too.
            unsigned written;
            if (c.line->Write(nullptr, 0, &written) == IoResult::Lost) Apply(c, LineLost(c, now));
        }
        if (c.link == LinkState::Open && c.line->TakeNote(note, sizeof note)) Say(c.notice, "%s", note);
    }
    if (c.protocol.active) {  // leaving mid-transfer: the host's end is told
        int64_t now = MonotonicMilliseconds();
        CancelProtocol(c.protocol, c.pump, c.notice, "cancelled", now);
        PumpOutput(c, now);
    }
    DrainLineForCapture(c);
}
