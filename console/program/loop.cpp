#include "console/program/loop.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
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
#include "console/program/record_lines.h"
#include "console/program/script.h"
#include "console/screen/receive.h"
#include "console/program/send.h"
#include "console/features/share.h"
#include "console/program/web_pages.h"
#include "console/program/lines.h"
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
// Then keys and the frame get theirs; with several lines the keys are also
// looked at between lines, so the line shown answers within one line's reads.
const int ReadsPerPass = 16;
// Keys read in one pass: a paste goes out in runs, and the line and the
// screen are served between them.
const unsigned KeysPerPass = 4096;
// A paste waits in the terminal while this little room is left for it and
// the line still takes bytes; a line that took nothing for a second no
// longer holds the keys back (the menu key must get through).
const unsigned PasteRoom = 3 * KeysPerPass;
const int64_t Bit7NoticeMilliseconds = 15000;

// The one place a reaction is carried out, and so the one way out. `from`:
// the line whose reaction it is (its exit code), or none for the program's.
void Apply(Console& c, const Session* from, Reaction reaction) {
    if (reaction & RedrawAll) RedrawDisplay(c.display);
    if (reaction & Quit) {
        c.quit = true;
        if (from != nullptr) c.exitCode = from->exitCode;
    }
    if (reaction & ShowLine) ShowLineNumbered(c, ReactionLine(reaction));
    if (reaction & ShowTimeline) OpenTimeline(c);
}

// Output that has waited a while with RTS/CTS on: a low CTS is the usual
// reason (a cable without the wire), so say so.
Reaction CheckHeldOutput(Session& c, int64_t) {
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
Reaction PumpOutput(Session& c, int64_t now) {
    if (c.link.state != LinkState::Open) return Nothing;
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
        if (result == IoResult::Lost) return LineLost(c, now);
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
    return Nothing;
}

// True when bytes could go now: staged, queued and not waiting for their
// pace, or a send's next block (a paced one is woken by its deadline).
bool HaveOutput(const Session& c, int64_t now) {
    uint32_t interval = c.options.characterInterval;
    if (!c.pump.StageEmpty()) return true;
    if (c.pump.Waiting() > 0 && !c.pump.WaitsForPace(now, interval)) return true;
    TransferModes modes = CurrentTransferModes();
    return modes.send != SendState::Idle && !(modes.send == SendState::SendText && interval > 0);
}

// `count` bytes read into the line's block: stamped with the time they
// arrived, received, and counted for a capture.
void TakeIn(Session& c, unsigned count) {
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
Reaction ReadLine(Session& c, int64_t now, bool hungUp) {
    c.link.readMore = false;
    Reaction reaction = Nothing;
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
            if (hungUp && reads == 0) reaction = LineLost(c, now);
            break;
        }
        unsigned count = 0;
        IoResult result = c.link.line->Read(into, room, &count);
        if (result == IoResult::Lost) return LineLost(c, now);
        if (result == IoResult::WouldBlock) {
            if (hungUp && reads == 0) reaction = LineLost(c, now);
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
    return reaction;
}

// True while keys should wait in the terminal: what waits for the line is
// near full, the line is moving it, and no pacing stretches it out.
bool HoldKeys(const Session& c, int64_t now) {
    return c.link.state == LinkState::Open && c.pump.Waiting() > TypedCapacity - PasteRoom &&
           c.options.characterInterval == 0 && now - c.link.lastWrite < OutputStalledMilliseconds;
}

const unsigned PasteBlock = 4096;
const unsigned HandBack = 64;  // bytes given back to curses at a time: its queue is small

// One block of a paste straight from the terminal, for the line shown;
// false when none waits. What came after the end bracket goes back to
// curses, in order.
bool ReadPaste(Console& c) {
    struct pollfd probe = {STDIN_FILENO, POLLIN, 0};
    if (poll(&probe, 1, 0) <= 0 || (probe.revents & POLLIN) == 0) return false;
    Session& s = Shown(c);
    unsigned room = TypedCapacity - s.pump.Waiting();
    // A full queue reads on once the line stopped: the paste's notice says what was lost.
    uint8_t block[PasteBlock];
    ssize_t got = read(STDIN_FILENO, block, room > 0 && room < PasteBlock ? room : PasteBlock);
    if (got <= 0) return false;
    unsigned taken = PasteText(s, block, unsigned(got));
    std::memcpy(c.keys.keyBacklog, block + taken, unsigned(got) - taken);
    c.keys.backlogStart = 0;
    c.keys.backlogEnd = unsigned(got) - taken;
    return true;
}

// Hands curses the next few bytes read past a paste, once it ran dry.
bool HandBackKeys(KeysPart& k) {
    if (k.backlogStart == k.backlogEnd) return false;
    unsigned left = k.backlogEnd - k.backlogStart;
    unsigned count = left < HandBack ? left : HandBack;
    // An escape sequence is not cut in two: curses would take its start for Escape.
    for (unsigned i = count; count < left && i > 1 && i + 8 > count; --i) {
        if (k.keyBacklog[k.backlogStart + i - 1] == EscapeKey) {
            count = i - 1;
            break;
        }
    }
    for (unsigned i = count; i > 0; --i) ungetch(k.keyBacklog[k.backlogStart + i - 1]);
    k.backlogStart += count;
    k.cursesHolds = true;
    return true;
}

// A bounded run of keys for the line shown (a key may show another), then
// what they queued goes out in as few writes as the line takes. A paste's
// text is read in blocks, past curses, whenever curses holds nothing.
void ReadKeys(Console& c, int64_t now) {
    wint_t code;
    int kind = OK;
    unsigned keys = 0;
    for (; keys < KeysPerPass && !c.quit && !HoldKeys(Shown(c), now); ++keys) {
        Session& s = Shown(c);
        Enter(c, s);
        if (s.input.inPaste && !c.keys.cursesHolds && c.keys.backlogStart == c.keys.backlogEnd) {
            if (!ReadPaste(c)) {
                kind = ERR;
                break;
            }
            keys += PasteBlock / 16;  // a block counts for a few keys: a pass reads up to 64 KiB
            continue;
        }
        if ((kind = wget_wch(stdscr, &code)) == ERR) {
            c.keys.cursesHolds = false;
            if (HandBackKeys(c.keys)) {
                kind = OK;
                continue;
            }
            break;
        }
        if (kind == KEY_CODE_YES && code == KEY_RESIZE) continue;  // SIGWINCH handles it
        if (c.timelineView.open) {
            Apply(c, nullptr, TimelineKey(c, int(code), kind == KEY_CODE_YES));
        } else if (c.lineCount >= 7 && s.ui.menu == MenuLevel::Top && kind != KEY_CODE_YES && code == '7') {
            s.ui.menu = MenuLevel::Closed;  // with seven lines 7 shows the seventh, not bit 7's rule
            ShowLineNumbered(c, 6);
        } else {
            Apply(c, &s, HandleKey(s, int(code), kind == KEY_CODE_YES, now));
        }
    }
    // curses may hold keys it read ahead, which poll() cannot see.
    c.keys.keysMore = (kind != ERR || c.keys.backlogStart != c.keys.backlogEnd) && !c.quit;
    Enter(c, Shown(c));
    Apply(c, &Shown(c), PumpOutput(Shown(c), now));
}

void HandleSignals(Console& c, int signalPipe) {
    int number;
    while ((number = NextSignal(signalPipe)) != 0) {
        if (number == SIGCHLD) continue;  // the pass's ServeProtocol reaps it
        if (number == SIGWINCH || number == SIGCONT) {
            c.front->Signal(c, number);
        } else if (c.options.serve && (number == SIGTERM || number == SIGINT)) {
            Apply(c, nullptr, Leave(c, 0));  // a service stopped as asked
        } else {
            for (unsigned i = 0; i < c.lineCount; ++i) c.lines[i]->features.batch.cutShort = true;
            Apply(c, nullptr, Leave(c, 128 + number));
        }
    }
}

// A line's frame: its help page, history view or screen (its records the core's).
void LineFrame(Session& s, Frame& frame) {
    if (s.ui.helpOpen) {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &s.ui.helpCells[r * ScreenColumns];
    } else if (s.ui.view.open) {
        ViewRows(s.ui.view, s.ui.history, screen.cells);
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &s.ui.view.rows[r * ScreenColumns];
        if (s.ui.view.haveMatch && s.ui.view.matchRow >= s.ui.view.top &&
            s.ui.view.matchRow < s.ui.view.top + ScreenRows) {
            frame.markRow = int(s.ui.view.matchRow - s.ui.view.top);
            frame.markColumn = s.ui.view.matchColumn;
            frame.markLength = int(std::strlen(s.ui.view.search));
            if (frame.markColumn + frame.markLength > ScreenColumns)
                frame.markLength = ScreenColumns - frame.markColumn;
        }
    } else {
        for (int r = 0; r < ScreenRows; ++r) frame.rows[r] = &screen.cells[r * ScreenColumns];
    }
    frame.cursorRow = terminal.row;
    frame.cursorColumn = terminal.column;
    frame.cursorVisible = !s.ui.view.open && !s.ui.helpOpen;
}

// The line shown's frame, and with two panes the other line's beside it;
// each line's records are the core's while its frame is drawn.
void Flush(Console& c, int64_t now) {
    if (c.arrange) ArrangeLines(c);
    bool drawing = BeginFlush(c.display), changed = false;
    unsigned panes = c.display.paneCount, keysPane = 0;
    for (unsigned p = 0; p < panes; ++p) {
        unsigned number = panes > 1 ? c.paneLines[p] : c.shown;
        Session& s = *c.lines[number];
        Enter(c, s);
        bool keys = number == c.shown;
        Frame frame;
        frame.markRow = -1;
        frame.markColumn = frame.markLength = 0;
        char status[StatusCapacity];
        char lines[StatusCapacity];
        frame.status = status;
        bool timeline = keys && c.timelineView.open;
        if (timeline && !s.ui.helpOpen) {
            TimelineFrame(c, &frame);
            frame.cursorRow = terminal.row;
            frame.cursorColumn = terminal.column;
            frame.cursorVisible = false;
        } else {
            LineFrame(s, frame);  // the help page hides the cursor too
        }
        if (timeline) {
            frame.statusCursor = TimelineStatus(c, status, sizeof status);
        } else {
            if (keys) {
                LinesStatus(c, lines, sizeof lines);
            } else {  // beside the line shown: its own name, never in brackets
                std::snprintf(lines, sizeof lines, "%u %s%s", number + 1, s.label,
                              s.link.state != LinkState::Open ? "!" : "");
            }
            frame.statusCursor = ComposeStatus(
                s, {CurrentTransferModes(), PaneWidth(c.display, p), c.display.unicodeGraphics, lines},
                status, sizeof status);
        }
        if (keys) keysPane = p;
        if (drawing) changed = DrawPane(c.display, p, frame) || changed;
        s.ui.redraw = false;
    }
    if (drawing) EndFlush(c.display, keysPane, changed);
    Session& s = Shown(c);
    Enter(c, s);
    ShowWebPages(s);
    c.redraw = false;
    c.lastFlush = now;
}

int64_t NoticeDue(const Session& c) { return c.notice.expires != 0 ? c.notice.expires : NoDeadline; }
Reaction ForgetNotice(Session& c, int64_t) {
    Forget(c.notice);
    return Nothing;
}

int64_t HeldOutputDue(const Session& c) {
    if (c.link.state != LinkState::Open || c.link.heldReported || c.link.outputWaitingSince == NoDeadline)
        return NoDeadline;
    return c.link.outputWaitingSince + HeldCheckMilliseconds;
}

// Work done at a time: when it is next due, and what it does then. Each
// pass asks every row once for the wait and carries out those due.
struct TimedWork {
    int64_t (*due)(const Session&);
    Reaction (*act)(Session&, int64_t now);
};
const TimedWork Timed[] = {
    {TimedControlsDue, EndTimedControls},  // a BREAK to end, DTR back after a pulse
    {NoticeDue, ForgetNotice},
    {HeldOutputDue, CheckHeldOutput},
    {ConnectionDeadline, RetryIfDue},  // a retry, a connect timeout
    {PulsesDeadline, ServePulses},     // --pulse at the first open
    {ScriptDeadline, RunScript},
    {BatchDeadline, BatchDue},              // the linger, notices to stderr
    {RunTimeoutDue, RunTimedOut},           // --timeout
    {ServedDue, ServedTimers},              // a served line's hello waits and refusals; its script's role
    {PortStateDue, PollPortState},          // the modem and line state, for RFC 2217 clients that asked
    {RecordedLinesDue, PollRecordedLines},  // the modem inputs and error counts, while recording
    {MdnsDue, MdnsTimers},                  // avahi's timeouts, while a served line is advertised
};
const unsigned TimedCount = sizeof Timed / sizeof Timed[0];

// A line's timed work that is due, until one of them says Quit.
void Due(Console& c, Session& s, int64_t now) {
    for (unsigned i = 0; i < TimedCount && !c.quit; ++i) {
        if (now >= Timed[i].due(s)) Apply(c, &s, Timed[i].act(s, now));
    }
    if (s.link.state != LinkState::Open) ProtocolLineGone(s.features.protocol, now);
}

// The earliest of a line's deadlines (its records must be the core's).
int64_t LineDeadline(const Session& s, int64_t now) {
    uint32_t interval = s.options.characterInterval;
    int64_t deadline = s.link.readMore && s.link.state == LinkState::Open ? now : NoDeadline;
    int64_t more[3 + TimedCount] = {
        s.pump.WaitsForPace(now, interval) ||
                (CurrentTransferModes().send == SendState::SendText && s.pump.StageEmpty())
            ? s.pump.NextPaced()
            : NoDeadline,
        ProtocolDeadline(s.features.protocol, now),
        WebPagesDeadline(s, now),
    };
    for (unsigned i = 0; i < TimedCount; ++i) more[3 + i] = Timed[i].due(s);
    for (int64_t at : more) deadline = at < deadline ? at : deadline;
    return deadline;
}

int Timeout(Console& c, int64_t now, bool holdKeys) {
    int64_t deadlines[3 + LinesMax] = {
        c.front->FrameDue(c),
        // Keys now, or again once the line stalls while they are held.
        holdKeys          ? Shown(c).link.lastWrite + OutputStalledMilliseconds
        : c.keys.keysMore ? now
                          : NoDeadline,
    };
    unsigned count = 2;
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Enter(c, *c.lines[i]);
        deadlines[count++] = LineDeadline(*c.lines[i], now);
    }
    return PollTimeout(now, deadlines, count);
}

// Keys that came while a line was read, taken before the next line's turn.
void KeysBetweenLines(Console& c, bool holdKeys) {
    struct pollfd probe = c.front->Input(c, holdKeys);
    if (probe.fd < 0 || probe.events == 0 || poll(&probe, 1, 0) <= 0) return;
    Apply(c, nullptr, c.front->ReadInput(c, probe.revents, holdKeys, MonotonicMilliseconds()));
}

// Where a line's descriptors sit in the pass's wait.
struct LineWait {
    nfds_t line, batchOutput, watch;
    struct pollfd* share;
    unsigned shared;
    struct pollfd* served;
    unsigned serving;
    struct pollfd* ports;
    unsigned ported;
    struct pollfd* web;
    unsigned webCount;
    struct pollfd* mdns;
    unsigned mdnsCount;
    bool held;  // a full sink: the line is not read this pass
    int lineFd;
};

const unsigned LineMaxDescriptors = 4 + ProtocolPollCount + ShareMaxDescriptors + ServeMaxDescriptors +
                                    PortMaxDescriptors + WebMaxDescriptors + MdnsMaxDescriptors;

// A line's part of the wait, from fds[count]; returns the new count.
nfds_t LineDescriptors(Session& s, struct pollfd* fds, nfds_t count, LineWait& w, int64_t now) {
    w.lineFd = s.link.state != LinkState::Down ? s.link.line->Descriptor() : -1;
    short lineEvents = w.lineFd >= 0 ? s.link.line->PollEvents(HaveOutput(s, now)) : short(0);
    // While a sink is full the line is not read; one that hung up meanwhile
    // is left out of the wait, or it would wake it at once, over and over.
    w.held = !s.features.protocol.active && ReadAllowance(s.chain, 1) == 0;
    if (w.held) s.link.readMore = false;  // poll says when there is more, once there is room
    if (!ProtocolTakesInput(s.features.protocol) || w.held) lineEvents &= short(~POLLIN);
    w.line = count;
    fds[count++] = {w.held && s.link.heldHangUp ? -1 : w.lineFd, lineEvents, 0};  // -1: skipped
    w.batchOutput = count;
    fds[count++] = {BatchOutputDescriptor(s), POLLOUT, 0};
    count += ProtocolPollFds(s.features.protocol, s.pump.StageEmpty(), now, &fds[count]);
    ShareTargets sharing = {s.notice, s.link.state == LinkState::Open, SendFromShare, &s};
    w.share = fds + count;
    w.shared = ShareDescriptors(s.features.share, sharing, w.share);
    count += w.shared;
    w.served = fds + count;
    w.serving = ServeDescriptors(s.features.server, s.link.state == LinkState::Open, w.served, now);
    count += w.serving;
    w.ports = fds + count;
    w.ported = PortDescriptors(s.features.ports, s.link.state == LinkState::Open, w.ports);
    count += w.ported;
    w.web = fds + count;
    w.webCount = WebPagesDescriptors(s, w.web);
    count += w.webCount;
    RecordPass(s);
    w.mdns = fds + count;
    w.mdnsCount = AdvertiseDescriptors(s.features.mdns, w.mdns);
    count += w.mdnsCount;
    w.watch = count;  // devices coming and going (--auto-connect)
    fds[count++] = {DeviceWatchDescriptor(s), POLLIN, 0};
    return count;
}

// What the wait said of a line's descriptors.
Reaction LineEvents(Console& c, Session& s, const struct pollfd* fds, LineWait& w, int64_t now) {
    Reaction reaction = Nothing;
    if (fds[w.batchOutput].revents != 0 && !c.quit) reaction = reaction | WriteBatchOutput(s);
    ServeProtocol(s.features.protocol, s.pump, s.notice, now);
    ShareTargets sharing = {s.notice, s.link.state == LinkState::Open, SendFromShare, &s};
    ServeShare(s.features.share, sharing, w.share, w.shared);
    ServeEvents(s.features.server, s.link.state == LinkState::Open, w.served, w.serving, now);
    PortEvents(s.features.ports, s.link.state == LinkState::Open, w.ports, w.ported);
    ServeWebPages(s, w.web, w.webCount);
    AdvertiseEvents(s.features.mdns, w.mdns, w.mdnsCount);
    if (fds[w.watch].revents != 0) reaction = reaction | DevicesChanged(s, now);
    // A key may have lost the line meanwhile: its events are stale then.
    if (c.quit || (reaction & Quit) || w.lineFd < 0 || s.link.line->Descriptor() != w.lineFd) return reaction;
    short events = fds[w.line].revents;
    s.link.heldHangUp = w.held && (s.link.heldHangUp || (events & (POLLHUP | POLLERR)) != 0);
    if (s.link.state == LinkState::Connecting) {
        if (events != 0) reaction = reaction | ContinueConnecting(s, events, now);
    } else if (!w.held && ((events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) || s.link.readMore)) {
        reaction = reaction | ReadLine(s, now, (events & (POLLHUP | POLLERR | POLLNVAL)) != 0);
    }
    if (s.link.state == LinkState::Open && (events & POLLOUT) && s.pump.StageEmpty()) {
        // The line's own bytes (a network line's commands) go out too.
        unsigned written;
        if (s.link.line->Write(nullptr, 0, &written) == IoResult::Lost)
            reaction = reaction | LineLost(s, now);
    }
    char note[NoticeCapacity];
    if (s.link.state == LinkState::Open && s.link.line->TakeNote(note, sizeof note))
        Say(s.notice, "%s", note);
    return reaction;
}

// Leaving during a capture: what the host sent before is still read and
// written, for as long as the line keeps delivering (at most a second).
void DrainLineForCapture(Session& c) {
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
void DrainBatchOutput(Console& c, Session& s, int signalPipe) {
    while (s.features.batch.output.Waiting() && !s.features.batch.cutShort) {
        int64_t now = MonotonicMilliseconds();
        int64_t timeoutAt = RunTimeoutDue(s);
        if (now >= timeoutAt) Apply(c, &s, RunTimedOut(s, now));
        if (s.features.batch.cutShort) return;
        struct pollfd fds[2] = {{STDOUT_FILENO, POLLOUT, 0}, {signalPipe, POLLIN, 0}};
        if (poll(fds, 2, PollTimeout(now, &timeoutAt, 1)) < 0 && errno != EINTR) return;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        if (fds[0].revents != 0 && !s.features.batch.cutShort) Apply(c, &s, WriteBatchOutput(s));
    }
}

// Keys in from curses, frames out.
class Screen : public FrontEnd {
public:
    bool HoldKeys(const Console& c, int64_t now) const override { return ::HoldKeys(Shown(c), now); }
    struct pollfd Input(const Console&, bool holdKeys) const override {
        return {STDIN_FILENO, holdKeys ? short(0) : short(POLLIN), 0};
    }
    Reaction ReadInput(Console& c, short revents, bool holdKeys, int64_t now) override {
        if ((revents & POLLIN) || (c.keys.keysMore && !holdKeys)) ReadKeys(c, now);
        // A hung-up terminal also reads as ready; without this the loop spins.
        if (revents & (POLLHUP | POLLERR | POLLNVAL))
            return Leave(c, 128 + SIGHUP);  // the user's terminal is gone
        return Nothing;
    }
    int64_t FrameDue(const Console& c) const override {
        bool beside = c.display.paneCount > 1 &&
                      (c.lines[c.paneLines[0]]->ui.redraw || c.lines[c.paneLines[1]]->ui.redraw);
        return c.redraw || Shown(c).ui.redraw || beside ? c.lastFlush + FrameMilliseconds : NoDeadline;
    }
    void Draw(Console& c, int64_t now) override { Flush(c, now); }
    void Signal(Console& c, int number) override {
        if (number == SIGWINCH) {
            ResizeDisplay(c.display);
            c.arrange = true;  // two lines at once, or one: the new size decides
        } else {
            ResumeDisplay(c.display);  // the shell may have changed the terminal meanwhile
        }
    }
    void Tell(Session& line, const char* text, bool) override { Say(line.notice, "%s", text); }
    bool ScriptEndsRun() const override { return false; }
};

}  // namespace

std::unique_ptr<FrontEnd> ScreenFrontEnd() { return std::unique_ptr<FrontEnd>(new Screen()); }

void RunLoop(Console& c, int signalPipe) {
    c.lastFlush = MonotonicMilliseconds() - FrameMilliseconds;
    c.redraw = true;
    std::unique_ptr<struct pollfd[]> fds(
        new (std::nothrow) struct pollfd[2 + c.lineCount * LineMaxDescriptors]);
    LineWait waits[LinesMax];
    if (!fds) {
        Apply(c, nullptr, Leave(c, 1));
        return;
    }
    while (!c.quit) {
        int64_t now = MonotonicMilliseconds();
        for (unsigned i = 0; i < c.lineCount && !c.quit; ++i) {
            Session& s = *c.lines[i];
            Enter(c, s);
            Due(c, s, now);
        }
        if (c.quit) break;
        for (unsigned i = 0; i < c.lineCount; ++i) {
            Session& s = *c.lines[i];
            Enter(c, s);
            NoteLineOpen(s.counters, s.link.state == LinkState::Open && ServedLineUp(s), now);
            Apply(c, &s, PumpOutput(s, now));
        }
        FollowTimeline(c);
        if (now >= c.front->FrameDue(c)) c.front->Draw(c, now);
        // No display (batch, a served line, a line not shown): the pages are shown at each pass.
        for (unsigned i = 0; i < c.lineCount; ++i) {
            Session& s = *c.lines[i];
            if (!s.features.batch.on && !c.options.serve && i == c.shown) continue;
            Enter(c, s);
            ShowWebPages(s);
        }

        bool holdKeys = c.front->HoldKeys(c, now);
        fds[0] = c.front->Input(c, holdKeys);
        fds[1] = {signalPipe, POLLIN, 0};
        nfds_t count = 2;
        for (unsigned i = 0; i < c.lineCount; ++i) {
            Enter(c, *c.lines[i]);
            count = LineDescriptors(*c.lines[i], fds.get(), count, waits[i], now);
        }
        if (poll(fds.get(), count, Timeout(c, now, holdKeys)) < 0 && errno != EINTR) {
            Apply(c, nullptr, Leave(c, 1));
            break;
        }
        now = MonotonicMilliseconds();
        // Whatever woke the loop may have changed what is shown; the flush
        // draws only what differs, at most once a frame.
        c.redraw = true;
        if (fds[1].revents & POLLIN) HandleSignals(c, signalPipe);
        Apply(c, nullptr, c.front->ReadInput(c, fds[0].revents, holdKeys, now));
        for (unsigned i = 0; i < c.lineCount && !c.quit; ++i) {
            Session& s = *c.lines[i];
            Enter(c, s);
            Apply(c, &s, LineEvents(c, s, fds.get(), waits[i], now));
            if (c.lineCount > 1 && i + 1 < c.lineCount) KeysBetweenLines(c, holdKeys);
        }
    }
    EndTimeline(c);
    for (unsigned i = 0; i < c.lineCount; ++i) {
        Session& s = *c.lines[i];
        Enter(c, s);
        if (s.features.protocol.active) {  // leaving mid-transfer: the host's end is told
            int64_t now = MonotonicMilliseconds();
            CancelProtocol(s.features.protocol, s.pump, s.notice, "cancelled", now);
            PumpOutput(s, now);
        }
        DrainLineForCapture(s);
        DrainBatchOutput(c, s, signalPipe);
    }
}
