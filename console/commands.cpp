#include "console/commands.h"

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "console/hex_view.h"
#include "console/line_maps.h"
#include "console/serve/served.h"
#include "console/stamps.h"
#include "core/screen.h"

namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

bool Connected(Console& c) {
    if (c.link == LinkState::Open) return true;
    Say(c.notice, "not connected: %s is not open", c.options.device);
    return false;
}

void SayControl(Console& c, ControlResult result, const char* done, const char* what) {
    switch (result) {
        case ControlResult::Done: Say(c.notice, "%s", done); break;
        case ControlResult::Unsupported: Say(c.notice, "this line has no %s", what); break;
        case ControlResult::Refused: Say(c.notice, "the line refused the %s", what); break;
        case ControlResult::Unsettled:
            Say(c.notice, "the line refused the %s; its state is unknown", what);
            break;
    }
}

void AskForFile(Console& c, PromptPurpose purpose, const char* label) {
    OpenPrompt(c.prompt, label, "");
    c.promptFor = purpose;
    c.tabListed = false;
}

Reaction BeginSend(Console& c, SendState mode) {
    if (c.protocol.active) {  // its bytes would land inside the protocol's
        Say(c.notice, "%s is running: the menu key then e ends it", ProtocolName(c.protocol.protocol));
        return Nothing;
    }
    if (SendRunning()) {
        Say(c.notice, "a send is running: the menu key then s e ends it");
        return Nothing;
    }
    c.transfers.pendingSend = mode;
    const char* name = mode == SendState::SendText ? "text" : mode == SendState::SendRaw ? "raw" : "binary";
    char label[48];
    std::snprintf(label, sizeof label, "send %s file", name);
    AskForFile(c, PromptPurpose::SendName, label);
    return Nothing;
}

Reaction BeginCapture(Console& c, ReceiveMode mode) {
    if (Capturing()) {
        Say(c.notice, "a capture is running: the menu key then r e ends it");
        return Nothing;
    }
    c.transfers.pendingCapture = mode;
    AskForFile(c, PromptPurpose::CaptureName,
               mode == ReceiveMode::CaptureRaw ? "capture raw to file" : "capture text to file");
    return Nothing;
}

// A protocol transfer: a send asks for its file; a receive runs in the home
// folder and lets the command name the files, but XMODEM carries no name,
// so one is asked for.
Reaction BeginProtocol(Console& c, Protocol protocol, ProtocolDirection direction) {
    if (c.protocol.active) {
        Say(c.notice, "%s is running: the menu key then e ends it", ProtocolName(c.protocol.protocol));
        return Nothing;
    }
    if (SendRunning() || c.pump.Waiting() > 0) {
        Say(c.notice, "wait for what is being sent to finish (or end it: the menu key then s e)");
        return Nothing;
    }
    c.protocolAsked = protocol;
    c.directionAsked = direction;
    if (direction == ProtocolDirection::Receive && protocol != Protocol::Xmodem) {
        StartProtocol(c.protocol, protocol, direction, c.options.protocolCommands[int(protocol)],
                      c.options.homeDirectory, nullptr, c.notice);
        return Nothing;
    }
    char label[48];
    std::snprintf(label, sizeof label, "%s %s file", ProtocolName(protocol),
                  direction == ProtocolDirection::Send ? "send" : "receive to");
    AskForFile(c, PromptPurpose::ProtocolName, label);
    return Nothing;
}

void ProtocolNamed(Console& c) {
    if (!Connected(c)) return;  // it went away while the name was typed
    char path[PathCapacity];
    if (!ResolvePath(c.options.homeDirectory, c.prompt.text, path, sizeof path)) {
        Say(c.notice, "cannot open file: %.100s: %s", c.prompt.text, std::strerror(ENAMETOOLONG));
        return;
    }
    if (c.directionAsked == ProtocolDirection::Send && access(path, R_OK) != 0) {
        Say(c.notice, "cannot open file: %.100s: %s", c.prompt.text, std::strerror(errno));
        return;
    }
    // A receive runs in the home folder, and lrzsz refuses names that lead
    // out of it: it is given the name as typed.
    bool send = c.directionAsked == ProtocolDirection::Send;
    StartProtocol(c.protocol, c.protocolAsked, c.directionAsked,
                  c.options.protocolCommands[int(c.protocolAsked)], c.options.homeDirectory,
                  send ? path : c.prompt.text, c.notice);
}

Reaction EndSendOrPaste(Console& c, int64_t now) {
    if (c.protocol.active) {
        CancelProtocol(c.protocol, c.pump, c.notice, "cancelled", now);
    } else if (c.pump.PasteWaiting() > 0) {
        unsigned dropped = c.pump.DropPaste();
        c.counters.dropped += dropped;
        c.pasteTotal = 0;
        Say(c.notice, "paste ended: %u bytes not sent", dropped);
    } else {
        EndSendCommand(c.transfers, c.notice);
    }
    return Nothing;
}

void SetModemOutput(Console& c, ModemOutput which, bool on) {
    ControlResult result = c.line->SetModemOutput(which, on);
    const char* name = which == ModemOutput::Dtr ? "DTR" : "RTS";
    if (result == ControlResult::Done) {
        (which == ModemOutput::Dtr ? c.dtr : c.rts) = on;
        (which == ModemOutput::Dtr ? c.controls.dtr : c.controls.rts) = on ? 1 : 0;
    }
    char done[32];
    std::snprintf(done, sizeof done, "%s %s", name, OnOff(on));
    SayControl(c, result, done, "modem lines (DTR, RTS)");
}

Reaction SendBreak(Console& c, int64_t now) {
    ControlResult result = c.line->SetBreak(true);
    if (result == ControlResult::Done) c.breakEndsAt = now + BreakMilliseconds;
    // Behind output the other end stopped reading: it goes when that moves.
    bool waiting = !c.pump.StageEmpty() || c.pump.Waiting() > 0 || SendRunning() || c.line->OutputStuck();
    bool stuck = result == ControlResult::Done && waiting &&
                 now - c.lastWrite >= OutputStalledMilliseconds + c.options.characterInterval;
    SayControl(c, result,
               stuck ? "break not sent yet: the line's output is stuck (the other end stopped reading)"
                     : "break sent",
               "BREAK");
    return Nothing;
}

Reaction PulseDtr(Console& c, int64_t now) {
    ControlResult result = c.line->SetModemOutput(ModemOutput::Dtr, false);
    if (result == ControlResult::Done) c.dtrBackAt = now + DtrPulseMilliseconds;
    SayControl(c, result, "DTR pulsed off and on (reset)", "modem lines (DTR, RTS)");
    return Nothing;
}

Reaction ShowModemLines(Console& c, int64_t) {
    ModemLines lines = {};
    ControlResult result = c.line->ReadModemLines(&lines);
    if (result != ControlResult::Done) {
        SayControl(c, result, "", "modem lines (CTS, DSR, DCD, RI)");
    } else {
        Say(c.notice, "CTS %s  DSR %s  DCD %s  RI %s  |  DTR %s  RTS %s", OnOff(lines.cts), OnOff(lines.dsr),
            OnOff(lines.dcd), OnOff(lines.ri), OnOff(lines.dtr), OnOff(lines.rts));
    }
    return Nothing;
}

// Applies `controls` to the open line; they are in force only if it took them.
bool ApplyControls(Console& c, const LineControls& controls) {
    char problem[NoticeCapacity];
    ControlResult result = c.line->Apply(controls, problem, sizeof problem);
    if (result == ControlResult::Done) {
        c.controls = controls;
        return true;
    }
    if (result == ControlResult::Unsupported) {
        Say(c.notice, "line settings are the server's business on %s", c.line->Name());
    } else if (result == ControlResult::Unsettled) {
        Say(c.notice, "%.200s: the line's settings are unknown", problem);
    } else {
        Say(c.notice, "%.200s; the old settings stay", problem);
    }
    return false;
}

Reaction ToggleFlow(Console& c, int64_t) {
    LineControls controls = c.controls;
    controls.hardwareFlow = !controls.hardwareFlow;
    if (ApplyControls(c, controls)) {
        c.options.hardwareFlow = controls.hardwareFlow;
        Say(c.notice, "flow control: %s", controls.hardwareFlow ? "rtscts" : "none");
    }
    return Nothing;
}

Reaction AskForSettings(Console& c, int64_t) {
    if (!c.line->HasSettings()) {
        Say(c.notice, "line settings are the server's business on %s", c.line->Name());
    } else {
        OpenPrompt(c.prompt, "line settings", c.options.settingsText);
        c.promptFor = PromptPurpose::Settings;
    }
    return Nothing;
}

void NewSettings(Console& c, const char* text) {
    LineControls controls = c.controls;
    const char* fault = nullptr;
    if (!ParseLineSettings(text, &controls.settings, &fault)) {
        Say(c.notice, "line settings '%.60s': %s", text, fault);
        return;
    }
    if (!Connected(c) || !ApplyControls(c, controls)) return;
    c.options.line = controls.settings;
    FormatLineSettings(controls.settings, c.options.settingsText, sizeof c.options.settingsText);
    Say(c.notice, "line settings now %s", c.options.settingsText);
}

void SendHexBytes(Console& c, const char* text) {
    uint8_t bytes[PathCapacity / 2];
    const char* fault = nullptr;
    int count = ParseHexBytes(text, bytes, sizeof bytes, &fault);
    if (count < 0) {
        Say(c.notice, "hex bytes '%.60s': %s", text, fault);
        return;
    }
    std::snprintf(c.hexInput, sizeof c.hexInput, "%s", text);
    if (!Connected(c)) return;
    if (!c.pump.Queue(bytes, unsigned(count), false)) {  // as they are: no bit-7 mark, no maps
        c.counters.dropped += unsigned(count);
        Say(c.notice, "%u bytes wait for the line: the hex bytes were not sent", c.pump.Waiting());
        return;
    }
    EchoQueued(c, bytes, unsigned(count));
    Say(c.notice, "sent %d bytes", count);
}

void NewMaps(Console& c, const char* text) {
    uint8_t maps = 0;
    const char* fault = nullptr;
    if (!ParseLineMaps(text, &maps, &fault)) {
        Say(c.notice, "maps '%.60s': %s", text, fault);
        return;
    }
    c.style.maps = c.options.maps = maps;
    char names[96];
    FormatLineMaps(maps, names, sizeof names);
    Say(c.notice, "line-end maps: %s", names);
}

void Search(Console& c) {
    std::snprintf(c.view.search, sizeof c.view.search, "%.79s", c.prompt.text);
    c.view.haveMatch = false;
    if (!FindInView(c.view, c.history, screen.cells, true)) Say(c.notice, "not found: %s", c.view.search);
}

}  // namespace

void SendTyped(Console& c, const uint8_t* bytes, unsigned count) {
    if (c.protocol.active) {  // the line is the protocol's
        Say(c.notice, "not sent: a transfer runs (the menu key then e ends it)");
        return;
    }
    if (c.link != LinkState::Open) {
        c.counters.dropped += count;
        Say(c.notice, "not connected: the key was not sent");
        return;
    }
    uint8_t wire[6];
    unsigned length = 0;
    if (count > 3) return;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t mapped[2];
        unsigned n = MapSent(c.style.maps, bytes[i], mapped);
        for (unsigned j = 0; j < n; ++j) wire[length++] = Originated(mapped[j], c.options.sevenBit);
    }
    if (!c.pump.Queue(wire, length, false)) {
        c.counters.dropped += length;
        Say(c.notice, "%u bytes wait for the line: the key was not sent", c.pump.Waiting());
        return;
    }
    KeysSent(c.bit7, wire, length, MonotonicMilliseconds());
    EchoQueued(c, wire, length);
}

void EchoQueued(Console& c, const uint8_t* bytes, unsigned count) {
    if (!c.style.echo) return;
    ReceiveTargets targets = ReceiveTargetsOf(c);
    EchoSent(targets, bytes, count);
}

namespace {

Reaction Exit(Console& c, int64_t) { return Leave(c, 0); }

Reaction Clear(Console& c, int64_t) {
    ResetScreen();
    AnsiScreenReset(c.ansi);
    RepaintAll();
    return Nothing;
}

Reaction Redraw(Console&, int64_t) { return RedrawAll; }

Reaction ToggleAnsi(Console& c, int64_t) {
    c.ansi.hide = !c.ansi.hide;
    c.options.ansiShown = !c.ansi.hide;
    Say(c.notice, "ANSI sequences: %s", c.ansi.hide ? "hidden" : "shown as received");
    return Nothing;
}

Reaction ToggleSevenBit(Console& c, int64_t) {
    c.options.sevenBit = !c.options.sevenBit;
    Say(c.notice, "keys and text go out with bit 7 %s", c.options.sevenBit ? "clear (7-bit)" : "set");
    return Nothing;
}

Reaction ShowHistory(Console& c, int64_t) {
    if (c.history.Capacity() == 0) {
        Say(c.notice, "the history is off (--history 0)");
    } else {
        OpenView(c.view, c.history);
    }
    return Nothing;
}

Reaction ShowHelp(Console& c, int64_t) {
    char prefix[16];
    FormatPrefixKey(c.options.prefixKey, prefix, sizeof prefix);
    char rows[ScreenRows][ScreenColumns + 1];
    ComposeHelpPage(CommandTable(), prefix, &rows[0][0], ScreenRows, ScreenColumns);
    for (int r = 0; r < ScreenRows; ++r) {
        bool ended = false;
        for (int col = 0; col < ScreenColumns; ++col) {
            if (rows[r][col] == '\0') ended = true;
            c.helpCells[r * ScreenColumns + col] = ended ? BlankCell : Cell(uint8_t(rows[r][col]));
        }
    }
    c.helpOpen = true;
    return Nothing;
}

Reaction SendRawFile(Console& c, int64_t) { return BeginSend(c, SendState::SendRaw); }
Reaction SendBinaryFile(Console& c, int64_t) { return BeginSend(c, SendState::SendBinary); }
Reaction SendTextFile(Console& c, int64_t) { return BeginSend(c, SendState::SendText); }
// The end command ends a running script too; a send or paste beside it ends with it.
Reaction EndSending(Console& c, int64_t now) {
    if (!ScriptRunning(c.script)) return EndSendOrPaste(c, now);
    Say(c.notice, "script stopped: %s", c.script.name);
    StopScript(c);
    if (SendRunning() || c.pump.PasteWaiting() > 0) EndSendOrPaste(c, now);
    return Nothing;
}

Reaction AskForScript(Console& c, int64_t) {
    if (ScriptRunning(c.script)) {
        Say(c.notice, "a script is running: the menu key then s e stops it");
    } else {
        AskForFile(c, PromptPurpose::ScriptName, "run script");
    }
    return Nothing;
}

void RunScriptFile(Console& c, const char* name) {
    char path[PathCapacity];
    if (!ResolvePath(c.options.homeDirectory, name, path, sizeof path)) {
        Say(c.notice, "file name too long");
    } else if (StartScript(c, path, MonotonicMilliseconds())) {
        Say(c.notice, "script started: %s", path);
    }
}
Reaction CaptureRaw(Console& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureRaw); }
Reaction CaptureText(Console& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureText); }

Reaction SendXmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Xmodem, ProtocolDirection::Send);
}
Reaction SendYmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Ymodem, ProtocolDirection::Send);
}
Reaction SendZmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Zmodem, ProtocolDirection::Send);
}
Reaction ReceiveXmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Xmodem, ProtocolDirection::Receive);
}
Reaction ReceiveYmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Ymodem, ProtocolDirection::Receive);
}
Reaction ReceiveZmodem(Console& c, int64_t) {
    return BeginProtocol(c, Protocol::Zmodem, ProtocolDirection::Receive);
}

Reaction EndTransfer(Console& c, int64_t now) {
    if (c.protocol.active) {
        CancelProtocol(c.protocol, c.pump, c.notice, "cancelled", now);
    } else {
        Say(c.notice, "no XMODEM, YMODEM or ZMODEM transfer is running");
    }
    return Nothing;
}

Reaction EndCapturing(Console& c, int64_t now) {
    if (c.protocol.active) return EndTransfer(c, now);
    EndCaptureCommand(c.transfers, c.notice);
    return Nothing;
}

Reaction ToggleDtr(Console& c, int64_t) {
    SetModemOutput(c, ModemOutput::Dtr, !c.dtr);
    return Nothing;
}

Reaction ToggleRts(Console& c, int64_t) {
    if (c.controls.hardwareFlow) {
        Say(c.notice, "RTS/CTS flow control drives RTS: turn it off first (menu key, f)");
    } else {
        SetModemOutput(c, ModemOutput::Rts, !c.rts);
    }
    return Nothing;
}

Reaction ToggleHexView(Console& c, int64_t) {
    ReceiveTargets targets = ReceiveTargetsOf(c);
    SetHexView(targets, !c.style.hex);
    Say(c.notice, "hex view %s", OnOff(c.style.hex));
    return Nothing;
}

Reaction AskForHexBytes(Console& c, int64_t) {
    OpenPrompt(c.prompt, "hex bytes to send", c.hexInput);
    c.promptFor = PromptPurpose::HexBytes;
    return Nothing;
}

Reaction AskForMaps(Console& c, int64_t) {
    char maps[96];
    FormatLineMaps(c.style.maps, maps, sizeof maps);
    OpenPrompt(c.prompt, "line-end maps", c.style.maps != 0 ? maps : "");
    c.promptFor = PromptPurpose::Maps;
    return Nothing;
}

Reaction ToggleEcho(Console& c, int64_t) {
    c.style.echo = !c.style.echo;
    Say(c.notice, "local echo %s", OnOff(c.style.echo));
    return Nothing;
}

Reaction ShowCounters(Console& c, int64_t now) {
    char text[NoticeCapacity];
    FormatCounters(c.counters, now, text, sizeof text);
    LineErrorCounts errors;
    bool reported = c.link == LinkState::Open && c.line->ReadErrorCounts(&errors) == ControlResult::Done;
    AddLineErrors(reported ? &errors : nullptr, text, sizeof text);
    Say(c.notice, "%s", text);
    return Nothing;
}

Reaction SwitchStamps(Console& c, int64_t) {
    CycleStamps(c);
    return Nothing;
}

// The table behind the menu: the order is the menu line's and the help
// page's, most used first, so a narrow line keeps what matters.
const MenuEntry Entries[] = {
    {MenuLevel::Top, 'x', "exit", "exit", Exit, MenuLevel::Closed, false},
    {MenuLevel::Top, 'c', "clear", "clear the screen", Clear, MenuLevel::Closed, false},
    {MenuLevel::Top, 's', "send", "send a file (then r, b, t, x, y, z or e)", nullptr, MenuLevel::Send,
     false},
    {MenuLevel::Top, 'r', "receive", "capture or receive (then r, t, x, y, z or e)", nullptr,
     MenuLevel::Receive, false},
    {MenuLevel::Top, 'e', "end", "end an X/Y/ZMODEM transfer", EndTransfer, MenuLevel::Closed, false},
    {MenuLevel::Top, 'h', "history", "history: PgUp, /, n, N, q", ShowHistory, MenuLevel::Closed, false},
    {MenuLevel::Top, 'b', "break", "send a BREAK", SendBreak, MenuLevel::Closed, true},
    {MenuLevel::Top, 'p', "settings", "line settings (speed...)", AskForSettings, MenuLevel::Closed, true},
    {MenuLevel::Top, 'f', "flow", "flow control on or off", ToggleFlow, MenuLevel::Closed, true},
    {MenuLevel::Top, 'd', "dtr", "DTR on or off", ToggleDtr, MenuLevel::Closed, true},
    {MenuLevel::Top, 'D', "reset", "pulse DTR (reset a board)", PulseDtr, MenuLevel::Closed, true},
    {MenuLevel::Top, 't', "rts", "RTS on or off", ToggleRts, MenuLevel::Closed, true},
    {MenuLevel::Top, 'm', "modem", "show the modem lines", ShowModemLines, MenuLevel::Closed, true},
    {MenuLevel::Top, 'l', "redraw", "redraw the terminal", Redraw, MenuLevel::Closed, false},
    {MenuLevel::Top, 'a', "ansi", "ANSI sequences hidden or shown", ToggleAnsi, MenuLevel::Closed, false},
    {MenuLevel::Top, '7', "7-bit", "keys with bit 7 clear or set", ToggleSevenBit, MenuLevel::Closed, false},
    {MenuLevel::Top, 'S', "script", "run a Lua script (s e stops it)", AskForScript, MenuLevel::Closed,
     false},
    {MenuLevel::Top, 'H', "hex", "hex view on or off", ToggleHexView, MenuLevel::Closed, false},
    {MenuLevel::Top, 'w', "write-hex", "send bytes typed in hex", AskForHexBytes, MenuLevel::Closed, true},
    {MenuLevel::Top, 'M', "maps", "line-end maps (lf-crlf...)", AskForMaps, MenuLevel::Closed, false},
    {MenuLevel::Top, 'E', "echo", "local echo on or off", ToggleEcho, MenuLevel::Closed, false},
    {MenuLevel::Top, 'T', "stamps", "log stamps: next format, off", SwitchStamps, MenuLevel::Closed, false},
    {MenuLevel::Top, 'i', "counters", "counters: bytes, reconnects", ShowCounters, MenuLevel::Closed, false},
    {MenuLevel::Top, 'g', "take", "take or give back the line", TakeTheLine, MenuLevel::Closed, true},
    {MenuLevel::Top, 'W', "who", "who is attached, since when", ListAttached, MenuLevel::Closed, false},
    {MenuLevel::Top, '?', "help", "this page", ShowHelp, MenuLevel::Closed, false},
    {MenuLevel::Send, 'r', "raw", "send a raw file", SendRawFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 'b', "binary", "send a binary file", SendBinaryFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 't', "text", "send a text file", SendTextFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 'x', "xmodem", "send a file by XMODEM", SendXmodem, MenuLevel::Closed, true},
    {MenuLevel::Send, 'y', "ymodem", "send a file by YMODEM", SendYmodem, MenuLevel::Closed, true},
    {MenuLevel::Send, 'z', "zmodem", "send a file by ZMODEM", SendZmodem, MenuLevel::Closed, true},
    {MenuLevel::Send, 'e', "end", "end the send, paste or script", EndSending, MenuLevel::Closed, false},
    {MenuLevel::Receive, 'r', "raw", "capture raw", CaptureRaw, MenuLevel::Closed, false},
    {MenuLevel::Receive, 't', "text", "capture text", CaptureText, MenuLevel::Closed, false},
    {MenuLevel::Receive, 'x', "xmodem", "receive a file by XMODEM", ReceiveXmodem, MenuLevel::Closed, true},
    {MenuLevel::Receive, 'y', "ymodem", "receive files by YMODEM", ReceiveYmodem, MenuLevel::Closed, true},
    {MenuLevel::Receive, 'z', "zmodem", "receive files by ZMODEM", ReceiveZmodem, MenuLevel::Closed, true},
    {MenuLevel::Receive, 'e', "end", "end the capture", EndCapturing, MenuLevel::Closed, false},
};

}  // namespace

MenuTable CommandTable() { return {Entries, sizeof Entries / sizeof Entries[0]}; }

Reaction Leave(Console& c, int exitCode) {
    c.exitCode = exitCode;
    return Quit;
}

Reaction RunMenuStep(Console& c, const MenuStep& step, int64_t now) {
    switch (step.kind) {
        case MenuStepKind::PassKey:
        case MenuStepKind::Opened:
        case MenuStepKind::Cancelled: return Nothing;
        case MenuStepKind::SendPrefix: SendTyped(c, &c.options.prefixKey, 1); return Nothing;
        case MenuStepKind::Run: break;
    }
    if (step.entry->needsLine && c.link != LinkState::Open) {
        Say(c.notice, "not connected: %s is not open", c.options.device);
        return Nothing;
    }
    return step.entry->run(c, now);
}

Reaction PromptAnswered(Console& c) {
    PromptPurpose purpose = c.promptFor;
    c.promptFor = PromptPurpose::None;
    if (purpose == PromptPurpose::Maps) {
        NewMaps(c, c.prompt.text);  // empty: none
        return Nothing;
    }
    if (c.prompt.text[0] == '\0') {
        c.transfers.pendingSend = SendState::Idle;
        c.transfers.pendingCapture = ReceiveMode::Off;
        return Nothing;
    }
    switch (purpose) {
        case PromptPurpose::SendName:
            StartSend(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice);
            break;
        case PromptPurpose::CaptureName:
            ChooseCapture(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice);
            break;
        case PromptPurpose::Search: Search(c); break;
        case PromptPurpose::Settings: NewSettings(c, c.prompt.text); break;
        case PromptPurpose::ProtocolName: ProtocolNamed(c); break;
        case PromptPurpose::ScriptName: RunScriptFile(c, c.prompt.text); break;
        case PromptPurpose::HexBytes: SendHexBytes(c, c.prompt.text); break;
        case PromptPurpose::Maps: break;
        case PromptPurpose::None: break;
    }
    return Nothing;
}

void EndTimedControls(Console& c, int64_t now) {
    if (now >= c.breakEndsAt) {
        c.breakEndsAt = NoDeadline;
        if (c.link == LinkState::Open && c.line->SetBreak(false) != ControlResult::Done) {
            Say(c.notice, "the line refused to end the BREAK: it may still be held (%s)", c.line->Name());
        }
    }
    if (now >= c.dtrBackAt) {
        c.dtrBackAt = NoDeadline;
        if (c.link != LinkState::Open) return;
        if (c.line->SetModemOutput(ModemOutput::Dtr, true) == ControlResult::Done) {
            c.dtr = true;
            c.controls.dtr = 1;
        } else {
            c.dtr = false;
            Say(c.notice, "the line refused to set DTR on again after the pulse: DTR is off");
        }
    }
}
