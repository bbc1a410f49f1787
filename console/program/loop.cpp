#include "console/program/loop.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/program/batch.h"
#include "console/program/commands.h"
#include "console/program/connection.h"
#include "console/program/input.h"
#include "console/program/line_controls.h"
#include "console/program/network_lines.h"
#include "console/program/pulses.h"
#include "console/program/recorded.h"
#include "console/program/script.h"
#include "console/screen/receive.h"
#include "console/program/send.h"
#include "console/features/share.h"
#include "console/program/web_pages.h"
#include "console/program/signals.h"
#include "console/program/status.h"
#include "console/program/served.h"
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
    if (reaction & RedrawAll) RedrawDisplay(c.ui.display);
    if (reaction & Quit) c.quit = true;
}

// Output that has waited a while with RTS/CTS on: a low CTS is the usual
// reason (a cable without the wire), so say so.
Reaction CheckHeldOutput(Console& c, int64_t) {
    c.link.heldReported = true;
    ModemLines lines;
    if (!c.link.controls.hardwareFlow || c.link.line->ReadModemLines(&lines) != ControlResult::Done ||
        lines.cts)
        return Nothing;
    char prefix[16];
    FormatPrefixKey(c.options.prefixKey, prefix, sizeof prefix);
    Say(c.notice, "output held: CTS is low (no CTS wire? %s f turns flow control off)", prefix);
    c.ui.redraw = true;
    return Nothing;
}

// Feeds the stage (a send, else what was typed) and writes it as the line
// takes it.
void PumpOutput(Console& c, int64_t now) {
    if (c.link.state != LinkState::Open) return;
    uint32_t interval = c.options.characterInterval;
    for (int round = 0; round < WriteRoundsPerPass; ++round) {
        if (c.pump.StageEmpty() && c.features.protocol.active) {
            FeedProtocolOutput(c.features.protocol, c.pump);
        } else if (c.pump.StageEmpty()) {
            bool textSend = CurrentTransferModes().send == SendState::SendText;
            if (SendRunning() && FeedSend(c.features.transfers, c.pump, now, interval, c.options.sevenBit,
                                          c.link.attached != nullptr)) {
                Say(c.notice, "send finished: %llu bytes", (unsigned long long)c.features.transfers.sendDone);
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
        if (c.link.attached != nullptr) c.link.attached->SetRules(c.pump.Rules());
        IoResult result = c.link.line->Write(bytes, length, &written);
        if (result == IoResult::Lost) {
            Apply(c, LineLost(c, now));
            return;
        }
        if (written > 0) {
            if (!c.features.protocol.active) c.features.log.Sent(bytes, written);
            if (c.features.protocol.active || SendRunning())  // a key's bytes were recorded as sent
                RecordWritten(c, c.features.protocol.active ? RecordSource::Transfer : RecordSource::TextSend,
                              bytes, written);
            c.link.lastWrite = now;
            c.counters.sent += written;
            c.pump.Wrote(written, now, interval);
            c.ui.redraw = true;  // progress
        }
        if (result == IoResult::WouldBlock || written < length) break;
    }
    if (c.pump.StageEmpty() && c.pump.Waiting() == 0) {
        c.link.outputWaitingSince = NoDeadline;
        c.link.heldReported = false;
    } else if (c.link.outputWaitingSince == NoDeadline && !c.pump.WaitsForPace(now, interval)) {
        c.link.outputWaitingSince = now;
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
void TakeIn(Console& c, unsigned count) {
    struct timespec arrived;
    clock_gettime(CLOCK_REALTIME, &arrived);
    c.ansi.eightBit = c.link.controls.settings.dataBits == 8;
    if (!c.options.sevenBit && c.ansi.eightBit &&
        HostEchoesBit7(c.bit7, c.link.readBlock, count, MonotonicMilliseconds())) {
        SayUntil(c.notice, MonotonicMilliseconds() + Bit7NoticeMilliseconds,
                 "the host sees bit 7: the menu key then 7 clears it (leave out --eight-bit)");
    }
    c.counters.received += count;
    ReceiveBlock(c.chain, c.link.readBlock, count, arrived);
    if (Capturing()) CaptureWritten(c.features.transfers, c.notice);
    c.ui.redraw = true;
}

// `hungUp`: poll reported a hang-up or error, so a line with nothing to
// read is gone rather than quiet.
void ReadLine(Console& c, int64_t now, bool hungUp) {
    c.link.readMore = false;
    int reads = 0;
    for (; reads < ReadsPerPass; ++reads) {
        // During a transfer the bytes are the protocol's: for its command
        // alone, taken only as fast as it reads them.
        unsigned room = sizeof c.link.readBlock;
        uint8_t* into =
            c.features.protocol.active ? ProtocolInputRoom(c.features.protocol, &room) : c.link.readBlock;
        // A full sink (standard output not read) leaves the rest in the line.
        if (!c.features.protocol.active && (room = ReadAllowance(c.chain, room)) == 0) break;
        if (into == nullptr) {  // the command has not taken the last bytes yet
            if (hungUp && reads == 0) Apply(c, LineLost(c, now));
            break;
        }
        unsigned count = 0;
        IoResult result = c.link.line->Read(into, room, &count);
        if (result == IoResult::Lost) {
            Apply(c, LineLost(c, now));
            return;
        }
        if (result == IoResult::WouldBlock) {
            if (hungUp && reads == 0) Apply(c, LineLost(c, now));
            break;
        }
        if (count == 0) continue;  // only protocol bytes
        if (c.features.protocol.active) {
            ProtocolReceived(c.features.protocol, count);
            c.ui.redraw = true;
        } else {
            TakeIn(c, count);
        }
    }
    c.link.readMore = reads == ReadsPerPass;
    char note[NoticeCapacity];
    if (c.link.line->TakeNote(note, sizeof note)) Say(c.notice, "%s", note);
    if (c.features.log.Active()) {
        char text[NoticeCapacity];
        if (!c.features.log.Flush(text, sizeof text) || c.features.log.CheckRemoved(now, text, sizeof text))
            Say(c.notice, "%s", text);
    }
}

// True while keys should wait in the terminal: what waits for the line is
// near full, the line is moving it, and no pacing stretches it out.
bool HoldKeys(const Console& c, int64_t now) {
    return c.link.state == LinkState::Open && c.pump.Waiting() > TypedCapacity - PasteRoom &&
           c.options.characterInterval == 0 && now - c.link.lastWrite < OutputStalledMilliseconds;
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
    std::memcpy(c.input.keyBacklog, block + taken, unsigned(got) - taken);
    c.input.backlogStart = 0;
    c.input.backlogEnd = unsigned(got) - taken;
    return true;
}

// Hands curses the next few bytes read past a paste, once it ran dry.
bool HandBackKeys(Console& c) {
    if (c.input.backlogStart == c.input.backlogEnd) return false;
    unsigned left = c.input.backlogEnd - c.input.backlogStart;
    unsigned count = left < HandBack ? left : HandBack;
    // An escape sequence is not cut in two: curses would take its start for Escape.
    for (unsigned k = count; count < left && k > 1 && k + 8 > count; --k) {
        if (c.input.keyBacklog[c.input.backlogStart + k - 1] == EscapeKey) {
            count = k - 1;
            break;
        }
    }
    for (unsigned i = count; i > 0; --i) ungetch(c.input.keyBacklog[c.input.backlogStart + i - 1]);
    c.input.backlogStart += count;
    c.input.cursesHolds = true;
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
        if (c.input.inPaste && !c.input.cursesHolds && c.input.backlogStart == c.input.backlogEnd) {
            if (!ReadPaste(c)) {
                kind = ERR;
                break;
            }
            keys += PasteBlock / 16;  // a block counts for a few keys: a pass reads up to 64 KiB
            continue;
        }
        if ((kind = wget_wch(stdscr, &code)) == ERR) {
            c.input.cursesHolds = false;
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
    c.input.keysMore = (kind != ERR || c.input.backlogStart != c.input.backlogEnd) && !c.quit;
    PumpOutput(c, now);
}

void HandleSignals(Console& c, int signalPipe) {
    int number;
    while ((number = NextSignal(signalPipe)) != 0) {
        if (number == SIGCHLD) continue;  // the pass's ServeProtocol reaps it
        if (number == SIGWINCH || number == SIGCONT) {
            c.front->Signal(c, number);
        } else if (c.options.serve && (number == SIGTERM || number == SIGINT)) {
            Apply(c, Leave(c, 0));  // a service stopped as asked
        } else {
            c.features.batch.cutShort = true;
            Apply(c, Leave(c, 128 + number));
        }
    }
}

void Flush(Console& c, int64_t now) {
    Frame frame;
    frame.markRow = -1;
    frame.markColumn = frame.markLength = 0;
    if (c.ui.helpOpen) {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &c.ui.helpCells[r * ScreenColumns];
    } else if (c.ui.view.open) {
        ViewRows(c.ui.view, c.ui.history, screen.cells);
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &c.ui.view.rows[r * ScreenColumns];
        if (c.ui.view.haveMatch && c.ui.view.matchRow >= c.ui.view.top &&
            c.ui.view.matchRow < c.ui.view.top + ScreenRows) {
            frame.markRow = int(c.ui.view.matchRow - c.ui.view.top);
            frame.markColumn = c.ui.view.matchColumn;
            frame.markLength = int(std::strlen(c.ui.view.search));
            if (frame.markColumn + frame.markLength > ScreenColumns)
                frame.markLength = ScreenColumns - frame.markColumn;
        }
    } else {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &screen.cells[r * ScreenColumns];
    }
    char status[StatusCapacity];
    frame.status = status;
    frame.statusCursor =
        ComposeStatus(c, CurrentTransferModes(), DisplayWidth(c.ui.display), status, sizeof status);
    frame.cursorRow = terminal.row;
    frame.cursorColumn = terminal.column;
    frame.cursorVisible = !c.ui.view.open && !c.ui.helpOpen;
    FlushDisplay(c.ui.display, frame);
    ShowWebPages(c);
    c.ui.redraw = false;
    c.ui.lastFlush = now;
}

int64_t NoticeDue(const Console& c) { return c.notice.expires != 0 ? c.notice.expires : NoDeadline; }
Reaction ForgetNotice(Console& c, int64_t) {
    Forget(c.notice);
    return Nothing;
}

int64_t HeldOutputDue(const Console& c) {
    if (c.link.state != LinkState::Open || c.link.heldReported || c.link.outputWaitingSince == NoDeadline)
        return NoDeadline;
    return c.link.outputWaitingSince + HeldCheckMilliseconds;
}

// Work done at a time: when it is next due, and what it does then. Each
// pass asks every row once for the wait and carries out those due.
struct TimedWork {
    int64_t (*due)(const Console&);
    Reaction (*act)(Console&, int64_t now);
};
const TimedWork Timed[] = {
    {TimedControlsDue, EndTimedControls},  // a BREAK to end, DTR back after a pulse
    {NoticeDue, ForgetNotice},
    {HeldOutputDue, CheckHeldOutput},
    {ConnectionDeadline, RetryIfDue},  // a retry, a connect timeout
    {PulsesDeadline, ServePulses},     // --pulse at the first open
    {ScriptDeadline, RunScript},
    {BatchDeadline, BatchDue},      // the linger, notices to stderr
    {RunTimeoutDue, RunTimedOut},   // --timeout
    {ServedDue, ServedTimers},      // a served line's hello waits and refusals; its script's role
    {PortStateDue, PollPortState},  // the modem and line state, for RFC 2217 clients that asked
    {MdnsDue, MdnsTimers},          // avahi's timeouts, while a served line is advertised
};
const unsigned TimedCount = sizeof Timed / sizeof Timed[0];

// What one pass works out once.
struct Pass {
    int64_t now;
    bool holdKeys;
};

void Due(Console& c, Pass& pass) {
    for (unsigned i = 0; i < TimedCount && !c.quit; ++i) {
        if (pass.now >= Timed[i].due(c)) Apply(c, Timed[i].act(c, pass.now));
    }
    if (c.link.state != LinkState::Open) ProtocolLineGone(c.features.protocol, pass.now);
}

int Timeout(const Console& c, const Pass& pass) {
    int64_t now = pass.now;
    uint32_t interval = c.options.characterInterval;
    int64_t deadlines[6 + TimedCount] = {
        c.front->FrameDue(c),
        c.link.readMore && c.link.state == LinkState::Open ? now : NoDeadline,
        // Keys now, or again once the line stalls while they are held.
        pass.holdKeys      ? c.link.lastWrite + OutputStalledMilliseconds
        : c.input.keysMore ? now
                           : NoDeadline,
        c.pump.WaitsForPace(now, interval) ||
                (CurrentTransferModes().send == SendState::SendText && c.pump.StageEmpty())
            ? c.pump.NextPaced()
            : NoDeadline,
        ProtocolDeadline(c.features.protocol, now),
        WebPagesDeadline(c, now),
    };
    for (unsigned i = 0; i < TimedCount; ++i) deadlines[6 + i] = Timed[i].due(c);
    return PollTimeout(now, deadlines, sizeof deadlines / sizeof deadlines[0]);
}

// Leaving during a capture: what the host sent before is still read and
// written, for as long as the line keeps delivering (at most a second).
void DrainLineForCapture(Console& c) {
    int64_t deadline = MonotonicMilliseconds() + DrainMilliseconds;
    while (Capturing() && c.link.state == LinkState::Open && MonotonicMilliseconds() < deadline) {
        struct pollfd probe = {c.link.line->Descriptor(), POLLIN, 0};
        if (poll(&probe, 1, DrainPollMilliseconds) <= 0 || (probe.revents & POLLIN) == 0) return;
        unsigned count = 0, room = ReadAllowance(c.chain, sizeof c.link.readBlock);
        if (room == 0 || c.link.line->Read(c.link.readBlock, room, &count) != IoResult::Done) return;
        TakeIn(c, count);
        // A capture that failed now would be said on a screen about to go.
        if (!Capturing()) std::snprintf(c.failedAtExit, sizeof c.failedAtExit, "%s", c.notice.text);
    }
}

// Leaving a batch run that ended as it should: what waits for standard
// output is written first, while a signal or the timeout still end it.
void DrainBatchOutput(Console& c, int signalPipe) {
    while (c.features.batch.output.Waiting() && !c.features.batch.cutShort) {
        int64_t now = MonotonicMilliseconds();
        int64_t timeoutAt = RunTimeoutDue(c);
        if (now >= timeoutAt) Apply(c, RunTimedOut(c, now));
        if (c.features.batch.cutShort) return;
        struct pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {signalPipe, POLLIN, 0}};
        if (poll(fds, 2, PollTimeout(now, &timeoutAt, 1)) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        if (fds[0].revents != 0 && !c.features.batch.cutShort) Apply(c, WriteBatchOutput(c));
    }
}

// Keys in from curses, frames out.
class Screen : public FrontEnd {
public:
    bool HoldKeys(const Console& c, int64_t now) const override { return ::HoldKeys(c, now); }
    struct pollfd Input(const Console&, bool holdKeys) const override {
        return {STDIN_FILENO, holdKeys ? short(0) : short(POLLIN), 0};
    }
    Reaction ReadInput(Console& c, short revents, bool holdKeys, int64_t now) override {
        if ((revents & POLLIN) || (c.input.keysMore && !holdKeys)) ReadKeys(c, now);
        // A hung-up terminal also reads as ready; without this the loop spins.
        if (revents & (POLLHUP | POLLERR | POLLNVAL))
            return Leave(c, 128 + SIGHUP);  // the user's terminal is gone
        return Nothing;
    }
    int64_t FrameDue(const Console& c) const override {
        return c.ui.redraw ? c.ui.lastFlush + FrameMilliseconds : NoDeadline;
    }
    void Draw(Console& c, int64_t now) override { Flush(c, now); }
    void Signal(Console& c, int number) override {
        if (number == SIGWINCH) {
            ResizeDisplay(c.ui.display);
        } else {
            ResumeDisplay(c.ui.display);  // the shell may have changed the terminal meanwhile
        }
    }
    void Tell(Console& c, const char* text, bool) override { Say(c.notice, "%s", text); }
    bool ScriptEndsRun() const override { return false; }
};

}  // namespace

std::unique_ptr<FrontEnd> ScreenFrontEnd() { return std::unique_ptr<FrontEnd>(new Screen()); }

void RunLoop(Console& c, int signalPipe) {
    c.ui.lastFlush = MonotonicMilliseconds() - FrameMilliseconds;
    c.ui.redraw = true;
    while (!c.quit) {
        int64_t now = MonotonicMilliseconds();
        Pass pass = {now, false};
        Due(c, pass);
        if (c.quit) break;
        NoteLineOpen(c.counters, c.link.state == LinkState::Open && ServedLineUp(c), now);
        PumpOutput(c, now);
        if (now >= c.front->FrameDue(c)) c.front->Draw(c, now);
        // No display (batch, a served line): the pages are shown at each pass.
        if (c.features.batch.on || c.options.serve) ShowWebPages(c);

        int lineFd = c.link.state != LinkState::Down ? c.link.line->Descriptor() : -1;
        pass.holdKeys = c.front->HoldKeys(c, now);
        short lineEvents = lineFd >= 0 ? c.link.line->PollEvents(HaveOutput(c, now)) : short(0);
        // While a sink is full the line is not read; one that hung up meanwhile
        // is left out of the wait, or it would wake it at once, over and over.
        bool held = !c.features.protocol.active && ReadAllowance(c.chain, 1) == 0;
        if (held) c.link.readMore = false;  // poll says when there is more, once there is room
        if (!ProtocolTakesInput(c.features.protocol) || held) lineEvents &= short(~POLLIN);
        struct pollfd fds[5 + ProtocolPollCount + ShareMaxDescriptors + ServeMaxDescriptors +
                          PortMaxDescriptors + WebMaxDescriptors + MdnsMaxDescriptors] = {
            c.front->Input(c, pass.holdKeys),
            {signalPipe, POLLIN, 0},
            {held && c.link.heldHangUp ? -1 : lineFd, lineEvents, 0},  // poll skips it while there is no line
            {BatchOutputDescriptor(c), POLLOUT, 0},
        };
        nfds_t count = 4 + ProtocolPollFds(c.features.protocol, c.pump.StageEmpty(), now, &fds[4]);
        ShareTargets sharing = {c.notice, c.link.state == LinkState::Open, SendFromShare, &c};
        struct pollfd* shareFds = fds + count;
        unsigned shared = ShareDescriptors(c.features.share, sharing, shareFds);
        count += shared;
        struct pollfd* servedFds = fds + count;
        unsigned served =
            ServeDescriptors(c.features.server, c.link.state == LinkState::Open, servedFds, now);
        count += served;
        struct pollfd* portFds = fds + count;
        unsigned ported = PortDescriptors(c.features.ports, c.link.state == LinkState::Open, portFds);
        count += ported;
        struct pollfd* webFds = fds + count;
        unsigned webCount = WebPagesDescriptors(c, webFds);
        count += webCount;
        RecordPass(c);
        struct pollfd* mdnsFds = fds + count;
        unsigned mdnsCount = AdvertiseDescriptors(c.features.mdns, mdnsFds);
        count += mdnsCount;
        nfds_t watchIndex = count++;  // devices coming and going (--auto-connect)
        fds[watchIndex] = {DeviceWatchDescriptor(c), POLLIN, 0};
        if (poll(fds, count, Timeout(c, pass)) < 0 && errno != EINTR) {
            Apply(c, Leave(c, 1));
            break;
        }
        now = MonotonicMilliseconds();
        // Whatever woke the loop may have changed what is shown; the flush
        // draws only what differs, at most once a frame.
        c.ui.redraw = true;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        if (fds[3].revents != 0 && !c.quit) Apply(c, WriteBatchOutput(c));
        Apply(c, c.front->ReadInput(c, fds[0].revents, pass.holdKeys, now));
        ServeProtocol(c.features.protocol, c.pump, c.notice, now);
        sharing.lineOpen = c.link.state == LinkState::Open;
        ServeShare(c.features.share, sharing, shareFds, shared);
        ServeEvents(c.features.server, c.link.state == LinkState::Open, servedFds, served, now);
        PortEvents(c.features.ports, c.link.state == LinkState::Open, portFds, ported);
        ServeWebPages(c, webFds, webCount);
        AdvertiseEvents(c.features.mdns, mdnsFds, mdnsCount);
        if (fds[watchIndex].revents != 0) Apply(c, DevicesChanged(c, now));
        // A key may have lost the line meanwhile: its events are stale then.
        if (c.quit || lineFd < 0 || c.link.line->Descriptor() != lineFd) continue;
        short events = fds[2].revents;
        c.link.heldHangUp = held && (c.link.heldHangUp || (events & (POLLHUP | POLLERR)) != 0);
        char note[NoticeCapacity];
        if (c.link.state == LinkState::Connecting) {
            if (events != 0) Apply(c, ContinueConnecting(c, events, now));
        } else if (!held && ((events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) || c.link.readMore)) {
            ReadLine(c, now, (events & (POLLHUP | POLLERR | POLLNVAL)) != 0);
        }
        if (c.link.state == LinkState::Open && (events & POLLOUT) && c.pump.StageEmpty()) {
            // The line's own bytes (a network line's commands) go out too.
            unsigned written;
            if (c.link.line->Write(nullptr, 0, &written) == IoResult::Lost) Apply(c, LineLost(c, now));
        }
        if (c.link.state == LinkState::Open && c.link.line->TakeNote(note, sizeof note))
            Say(c.notice, "%s", note);
    }
    if (c.features.protocol.active) {  // leaving mid-transfer: the host's end is told
        int64_t now = MonotonicMilliseconds();
        CancelProtocol(c.features.protocol, c.pump, c.notice, "cancelled", now);
        PumpOutput(c, now);
    }
    DrainLineForCapture(c);
    DrainBatchOutput(c, signalPipe);
}
