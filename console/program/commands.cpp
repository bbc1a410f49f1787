#include "console/program/commands.h"

#include <cstdio>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/program/line_controls.h"
#include "console/program/script.h"
#include "console/program/send.h"
#include "console/program/stamps.h"
#include "console/rules/hex_view.h"
#include "console/rules/line_maps.h"
#include "console/program/recorded.h"
#include "console/program/served.h"
#include "core/screen.h"

namespace {

const char* OnOff(bool on) { return on ? "on" : "off"; }

bool Connected(Session& c) {
    if (c.link.state == LinkState::Open) return true;
    Say(c.notice, "not connected: %s is not open", c.options.device);
    return false;
}

void AskForFile(Session& c, PromptPurpose purpose, const char* label) {
    OpenPrompt(c.ui.prompt, label, "");
    c.ui.promptFor = purpose;
    c.ui.tabListed = false;
}

Reaction BeginSend(Session& c, SendState mode) {
    if (c.features.protocol.active) {  // its bytes would land inside the protocol's
        Say(c.notice, "%s is running: the menu key then e ends it",
            ProtocolName(c.features.protocol.protocol));
        return Nothing;
    }
    if (SendRunning()) {
        Say(c.notice, "a send is running: the menu key then s e ends it");
        return Nothing;
    }
    c.features.transfers.pendingSend = mode;
    const char* name = mode == SendState::SendText ? "text" : mode == SendState::SendRaw ? "raw" : "binary";
    char label[48];
    std::snprintf(label, sizeof label, "send %s file", name);
    AskForFile(c, PromptPurpose::SendName, label);
    return Nothing;
}

Reaction BeginCapture(Session& c, ReceiveMode mode) {
    if (Capturing()) {
        Say(c.notice, "a capture is running: the menu key then r e ends it");
        return Nothing;
    }
    c.features.transfers.pendingCapture = mode;
    AskForFile(c, PromptPurpose::CaptureName,
               mode == ReceiveMode::CaptureRaw ? "capture raw to file" : "capture text to file");
    return Nothing;
}

// A protocol transfer: a send asks for its file; a receive runs in the home
// folder and lets the command name the files, but XMODEM carries no name,
// so one is asked for.
Reaction BeginProtocol(Session& c, Protocol protocol, ProtocolDirection direction) {
    if (c.features.protocol.active) {
        Say(c.notice, "%s is running: the menu key then e ends it",
            ProtocolName(c.features.protocol.protocol));
        return Nothing;
    }
    if (SendRunning() || c.pump.Waiting() > 0) {
        Say(c.notice, "wait for what is being sent to finish (or end it: the menu key then s e)");
        return Nothing;
    }
    c.features.protocolAsked = protocol;
    c.features.directionAsked = direction;
    if (direction == ProtocolDirection::Receive && protocol != Protocol::Xmodem) {
        StartProtocol(c.features.protocol, protocol, direction, c.options.protocolCommands[int(protocol)],
                      c.options.homeDirectory, nullptr, c.notice);
        return Nothing;
    }
    char label[48];
    std::snprintf(label, sizeof label, "%s %s file", ProtocolName(protocol),
                  direction == ProtocolDirection::Send ? "send" : "receive to");
    AskForFile(c, PromptPurpose::ProtocolName, label);
    return Nothing;
}

void ProtocolNamed(Session& c) {
    if (!Connected(c)) return;  // it went away while the name was typed
    char path[PathCapacity];
    if (!ResolvePath(c.options.homeDirectory, c.ui.prompt.text, path, sizeof path)) {
        Say(c.notice, "cannot open file: %.100s: %s", c.ui.prompt.text, std::strerror(ENAMETOOLONG));
        return;
    }
    if (c.features.directionAsked == ProtocolDirection::Send && access(path, R_OK) != 0) {
        Say(c.notice, "cannot open file: %.100s: %s", c.ui.prompt.text, std::strerror(errno));
        return;
    }
    // A receive runs in the home folder, and lrzsz refuses names that lead
    // out of it: it is given the name as typed.
    bool send = c.features.directionAsked == ProtocolDirection::Send;
    StartProtocol(c.features.protocol, c.features.protocolAsked, c.features.directionAsked,
                  c.options.protocolCommands[int(c.features.protocolAsked)], c.options.homeDirectory,
                  send ? path : c.ui.prompt.text, c.notice);
}

Reaction EndSendOrPaste(Session& c, int64_t now) {
    if (c.features.protocol.active) {
        CancelProtocol(c.features.protocol, c.pump, c.notice, "cancelled", now);
    } else if (c.pump.PasteWaiting() > 0) {
        unsigned dropped = c.pump.DropPaste();
        c.counters.dropped += dropped;
        c.input.pasteTotal = 0;
        Say(c.notice, "paste ended: %u bytes not sent", dropped);
    } else {
        EndSendCommand(c.features.transfers, c.notice);
    }
    return Nothing;
}

Reaction ShowModemLines(Session& c, int64_t) {
    ModemLines lines = {};
    ControlResult result = c.link.line->ReadModemLines(&lines);
    if (result != ControlResult::Done) {
        SayControl(c.notice, result, "", "modem lines (CTS, DSR, DCD, RI)");
    } else {
        Say(c.notice, "CTS %s  DSR %s  DCD %s  RI %s  |  DTR %s  RTS %s", OnOff(lines.cts), OnOff(lines.dsr),
            OnOff(lines.dcd), OnOff(lines.ri), OnOff(lines.dtr), OnOff(lines.rts));
    }
    return Nothing;
}

Reaction ToggleFlow(Session& c, int64_t) {
    LineControls controls = c.link.controls;
    controls.hardwareFlow = !controls.hardwareFlow;
    if (ApplyControls(c, controls, &c.notice)) {
        c.options.hardwareFlow = controls.hardwareFlow;
        Say(c.notice, "flow control: %s", controls.hardwareFlow ? "rtscts" : "none");
    }
    return Nothing;
}

Reaction AskForSettings(Session& c, int64_t) {
    if (!c.link.line->HasSettings()) {
        Say(c.notice, "line settings are the server's business on %s", c.link.line->Name());
    } else {
        OpenPrompt(c.ui.prompt, "line settings", c.options.settingsText);
        c.ui.promptFor = PromptPurpose::Settings;
    }
    return Nothing;
}

void NewSettings(Session& c, const char* text) {
    LineControls controls = c.link.controls;
    const char* fault = nullptr;
    if (!ParseLineSettings(text, &controls.settings, &fault)) {
        Say(c.notice, "line settings '%.60s': %s", text, fault);
        return;
    }
    if (!ApplyControls(c, controls, &c.notice)) return;
    c.options.line = controls.settings;
    FormatLineSettings(controls.settings, c.options.settingsText, sizeof c.options.settingsText);
    Say(c.notice, "line settings now %s", c.options.settingsText);
}

void SendHexBytes(Session& c, const char* text) {
    uint8_t bytes[PathCapacity / 2];
    const char* fault = nullptr;
    int count = ParseHexBytes(text, bytes, sizeof bytes, &fault);
    if (count < 0) {
        Say(c.notice, "hex bytes '%.60s': %s", text, fault);
        return;
    }
    std::snprintf(c.input.hexInput, sizeof c.input.hexInput, "%s", text);
    if (Send(c, SendSource::HexInput, bytes, unsigned(count)) == unsigned(count))
        Say(c.notice, "sent %d bytes", count);
}

void NewMaps(Session& c, const char* text) {
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

void Search(Session& c) {
    std::snprintf(c.ui.view.search, sizeof c.ui.view.search, "%.79s", c.ui.prompt.text);
    c.ui.view.haveMatch = false;
    if (!FindInView(c.ui.view, c.ui.history, screen.cells, true))
        Say(c.notice, "not found: %s", c.ui.view.search);
}

}  // namespace

namespace {

Reaction Exit(Session& c, int64_t) { return Leave(c, 0); }

Reaction Clear(Session& c, int64_t) {
    ResetScreen();
    AnsiScreenReset(c.ansi);
    RepaintAll();
    return Nothing;
}

Reaction Redraw(Session&, int64_t) { return RedrawAll; }

Reaction ToggleAnsi(Session& c, int64_t) {
    c.ansi.hide = !c.ansi.hide;
    c.options.ansiShown = !c.ansi.hide;
    Say(c.notice, "ANSI sequences: %s", c.ansi.hide ? "hidden" : "shown as received");
    return Nothing;
}

Reaction ToggleSevenBit(Session& c, int64_t) {
    c.options.sevenBit = !c.options.sevenBit;
    Say(c.notice, "keys and text go out with bit 7 %s", c.options.sevenBit ? "clear (7-bit)" : "set");
    return Nothing;
}

Reaction ShowHistory(Session& c, int64_t) {
    if (c.ui.history.Capacity() == 0) {
        Say(c.notice, "the history is off (--history 0)");
    } else {
        OpenView(c.ui.view, c.ui.history);
    }
    return Nothing;
}

Reaction ShowHelp(Session& c, int64_t) {
    char prefix[16];
    FormatPrefixKey(c.options.prefixKey, prefix, sizeof prefix);
    char rows[ScreenRows][ScreenColumns + 1];
    ComposeHelpPage(CommandTable(), prefix, &rows[0][0], ScreenRows, ScreenColumns);
    for (int r = 0; r < ScreenRows; ++r) {
        bool ended = false;
        for (int col = 0; col < ScreenColumns; ++col) {
            if (rows[r][col] == '\0') ended = true;
            c.ui.helpCells[r * ScreenColumns + col] = ended ? BlankCell : Cell(uint8_t(rows[r][col]));
        }
    }
    c.ui.helpOpen = true;
    return Nothing;
}

Reaction SendRawFile(Session& c, int64_t) { return BeginSend(c, SendState::SendRaw); }
Reaction SendBinaryFile(Session& c, int64_t) { return BeginSend(c, SendState::SendBinary); }
Reaction SendTextFile(Session& c, int64_t) { return BeginSend(c, SendState::SendText); }
// The end command ends a running script too; a send or paste beside it ends with it.
Reaction EndSending(Session& c, int64_t now) {
    if (!ScriptRunning(c.features.script)) return EndSendOrPaste(c, now);
    Say(c.notice, "script stopped: %s", c.features.script.name);
    StopScript(c);
    if (SendRunning() || c.pump.PasteWaiting() > 0) EndSendOrPaste(c, now);
    return Nothing;
}

Reaction AskForScript(Session& c, int64_t) {
    if (ScriptRunning(c.features.script)) {
        Say(c.notice, "a script is running: the menu key then s e stops it");
    } else {
        AskForFile(c, PromptPurpose::ScriptName, "run script");
    }
    return Nothing;
}

void RunScriptFile(Session& c, const char* name) {
    char path[PathCapacity];
    if (!ResolvePath(c.options.homeDirectory, name, path, sizeof path)) {
        Say(c.notice, "file name too long");
    } else if (StartScript(c, path, MonotonicMilliseconds())) {
        Say(c.notice, "script started: %s", path);
    }
}
Reaction CaptureRaw(Session& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureRaw); }
Reaction CaptureText(Session& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureText); }

Reaction SendXmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Xmodem, ProtocolDirection::Send);
}
Reaction SendYmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Ymodem, ProtocolDirection::Send);
}
Reaction SendZmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Zmodem, ProtocolDirection::Send);
}
Reaction ReceiveXmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Xmodem, ProtocolDirection::Receive);
}
Reaction ReceiveYmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Ymodem, ProtocolDirection::Receive);
}
Reaction ReceiveZmodem(Session& c, int64_t) {
    return BeginProtocol(c, Protocol::Zmodem, ProtocolDirection::Receive);
}

Reaction EndTransfer(Session& c, int64_t now) {
    if (c.features.protocol.active) {
        CancelProtocol(c.features.protocol, c.pump, c.notice, "cancelled", now);
    } else {
        Say(c.notice, "no XMODEM, YMODEM or ZMODEM transfer is running");
    }
    return Nothing;
}

Reaction EndCapturing(Session& c, int64_t now) {
    if (c.features.protocol.active) return EndTransfer(c, now);
    EndCaptureCommand(c.features.transfers, c.notice);
    return Nothing;
}

Reaction Break(Session& c, int64_t now) {
    SendBreak(c, now, &c.notice);
    return Nothing;
}

Reaction Reset(Session& c, int64_t now) {
    PulseDtr(c, now, &c.notice);
    return Nothing;
}

Reaction ToggleDtr(Session& c, int64_t) {
    SetModemOutput(c, ModemOutput::Dtr, !ModemOutputOn(c, ModemOutput::Dtr), &c.notice);
    return Nothing;
}

Reaction ToggleRts(Session& c, int64_t) {
    SetModemOutput(c, ModemOutput::Rts, !ModemOutputOn(c, ModemOutput::Rts), &c.notice);
    return Nothing;
}

Reaction ToggleHexView(Session& c, int64_t) {
    SetHexView(c.chain, !c.style.hex);
    Say(c.notice, "hex view %s", OnOff(c.style.hex));
    return Nothing;
}

Reaction AskForHexBytes(Session& c, int64_t) {
    OpenPrompt(c.ui.prompt, "hex bytes to send", c.input.hexInput);
    c.ui.promptFor = PromptPurpose::HexBytes;
    return Nothing;
}

Reaction AskForMaps(Session& c, int64_t) {
    char maps[96];
    FormatLineMaps(c.style.maps, maps, sizeof maps);
    OpenPrompt(c.ui.prompt, "line-end maps", c.style.maps != 0 ? maps : "");
    c.ui.promptFor = PromptPurpose::Maps;
    return Nothing;
}

Reaction ToggleEcho(Session& c, int64_t) {
    c.style.echo = !c.style.echo;
    Say(c.notice, "local echo %s", OnOff(c.style.echo));
    return Nothing;
}

Reaction ShowCounters(Session& c, int64_t now) {
    char text[NoticeCapacity];
    FormatCounters(c.counters, now, text, sizeof text);
    LineErrorCounts errors;
    bool reported =
        c.link.state == LinkState::Open && c.link.line->ReadErrorCounts(&errors) == ControlResult::Done;
    AddLineErrors(reported ? &errors : nullptr, text, sizeof text);
    Say(c.notice, "%s", text);
    return Nothing;
}

Reaction SwitchStamps(Session& c, int64_t) {
    CycleStamps(c);
    return Nothing;
}

// Several lines: which one is shown is the program's to change.
template <unsigned Number>
Reaction ShowNumbered(Session&, int64_t) {
    return ShowLineReaction(Number);
}
Reaction ShowNext(Session&, int64_t) { return ShowLineReaction(NextLine); }
Reaction ShowTheTimeline(Session&, int64_t) { return ShowTimeline; }

// A command as the menu's table holds it: on the state the menu is given.
template <Reaction (*Command)(Session&, int64_t)>
Reaction Run(void* user, int64_t now) {
    return Command(*static_cast<Session*>(user), now);
}

// The table behind the menu: the order is the menu line's and the help
// page's, most used first, so a narrow line keeps what matters.
const MenuEntry Entries[] = {
    {MenuLevel::Top, 'x', "exit", "exit", Run<Exit>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'c', "clear", "clear the screen", Run<Clear>, MenuLevel::Closed, false},
    {MenuLevel::Top, 's', "send", "send a file (then r, b, t, x, y, z or e)", nullptr, MenuLevel::Send,
     false},
    {MenuLevel::Top, 'r', "receive", "capture or receive (then r, t, x, y, z or e)", nullptr,
     MenuLevel::Receive, false},
    {MenuLevel::Top, 'e', "end", "end an X/Y/ZMODEM transfer", Run<EndTransfer>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'h', "history", "history: PgUp, /, n, N, q", Run<ShowHistory>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'b', "break", "send a BREAK", Run<Break>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'p', "settings", "line settings (speed...)", Run<AskForSettings>, MenuLevel::Closed,
     true},
    {MenuLevel::Top, 'f', "flow", "flow control on or off", Run<ToggleFlow>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'd', "dtr", "DTR on or off", Run<ToggleDtr>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'D', "reset", "pulse DTR (reset a board)", Run<Reset>, MenuLevel::Closed, true},
    {MenuLevel::Top, 't', "rts", "RTS on or off", Run<ToggleRts>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'm', "modem", "show the modem lines", Run<ShowModemLines>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'l', "redraw", "redraw the terminal", Run<Redraw>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'a', "ansi", "ANSI sequences hidden or shown", Run<ToggleAnsi>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, '7', "7-bit", "keys with bit 7 clear or set", Run<ToggleSevenBit>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, 'S', "script", "run a Lua script (s e stops it)", Run<AskForScript>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, 'H', "hex", "hex view on or off", Run<ToggleHexView>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'w', "write-hex", "send bytes typed in hex", Run<AskForHexBytes>, MenuLevel::Closed,
     true},
    {MenuLevel::Top, 'M', "maps", "line-end maps (lf-crlf...)", Run<AskForMaps>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'E', "echo", "local echo on or off", Run<ToggleEcho>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'T', "stamps", "log stamps: next format, off", Run<SwitchStamps>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, 'i', "counters", "counters: bytes, reconnects", Run<ShowCounters>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, 'g', "take", "take or give back the line", Run<TakeTheLine>, MenuLevel::Closed, true},
    {MenuLevel::Top, 'W', "who", "who is attached, since when", Run<ListAttached>, MenuLevel::Closed, false},
    {MenuLevel::Top, ' ', "pause", "replay: pause (< > [ ] j: seek)", Run<ReplayPause>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, '<', "back", nullptr, Run<ReplayBack>, MenuLevel::Closed, false},
    {MenuLevel::Top, '>', "on", nullptr, Run<ReplayForward>, MenuLevel::Closed, false},
    {MenuLevel::Top, '[', "mark-", nullptr, Run<ReplayPreviousMark>, MenuLevel::Closed, false},
    {MenuLevel::Top, ']', "mark+", nullptr, Run<ReplayNextMark>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'j', "jump", nullptr, Run<AskForReplayTime>, MenuLevel::Closed, false},
    {MenuLevel::Top, 'L', "timeline", "the timeline of every line", Run<ShowTheTimeline>, MenuLevel::Closed,
     false},
    {MenuLevel::Top, '\t', "next", "show the next line", Run<ShowNext>, MenuLevel::Closed, false},
    {MenuLevel::Top, '1', "1-9 line", "show line 1 to 9", Run<ShowNumbered<0>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '2', nullptr, nullptr, Run<ShowNumbered<1>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '3', nullptr, nullptr, Run<ShowNumbered<2>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '4', nullptr, nullptr, Run<ShowNumbered<3>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '5', nullptr, nullptr, Run<ShowNumbered<4>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '6', nullptr, nullptr, Run<ShowNumbered<5>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '8', nullptr, nullptr, Run<ShowNumbered<7>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '9', nullptr, nullptr, Run<ShowNumbered<8>>, MenuLevel::Closed, false},
    {MenuLevel::Top, '?', "help", "this page", Run<ShowHelp>, MenuLevel::Closed, false},
    {MenuLevel::Send, 'r', "raw", "send a raw file", Run<SendRawFile>, MenuLevel::Closed, false},
    {MenuLevel::Send, 'b', "binary", "send a binary file", Run<SendBinaryFile>, MenuLevel::Closed, false},
    {MenuLevel::Send, 't', "text", "send a text file", Run<SendTextFile>, MenuLevel::Closed, false},
    {MenuLevel::Send, 'x', "xmodem", "send a file by XMODEM", Run<SendXmodem>, MenuLevel::Closed, true},
    {MenuLevel::Send, 'y', "ymodem", "send a file by YMODEM", Run<SendYmodem>, MenuLevel::Closed, true},
    {MenuLevel::Send, 'z', "zmodem", "send a file by ZMODEM", Run<SendZmodem>, MenuLevel::Closed, true},
    {MenuLevel::Send, 'e', "end", "end the send, paste or script", Run<EndSending>, MenuLevel::Closed, false},
    {MenuLevel::Receive, 'r', "raw", "capture raw", Run<CaptureRaw>, MenuLevel::Closed, false},
    {MenuLevel::Receive, 't', "text", "capture text", Run<CaptureText>, MenuLevel::Closed, false},
    {MenuLevel::Receive, 'x', "xmodem", "receive a file by XMODEM", Run<ReceiveXmodem>, MenuLevel::Closed,
     true},
    {MenuLevel::Receive, 'y', "ymodem", "receive files by YMODEM", Run<ReceiveYmodem>, MenuLevel::Closed,
     true},
    {MenuLevel::Receive, 'z', "zmodem", "receive files by ZMODEM", Run<ReceiveZmodem>, MenuLevel::Closed,
     true},
    {MenuLevel::Receive, 'e', "end", "end the capture", Run<EndCapturing>, MenuLevel::Closed, false},
};

}  // namespace

MenuTable CommandTable() { return {Entries, sizeof Entries / sizeof Entries[0]}; }

Reaction RunMenuStep(Session& c, const MenuStep& step, int64_t now) {
    switch (step.kind) {
        case MenuStepKind::PassKey:
        case MenuStepKind::Opened:
        case MenuStepKind::Cancelled: return Nothing;
        case MenuStepKind::SendPrefix: Send(c, SendSource::Key, &c.options.prefixKey, 1); return Nothing;
        case MenuStepKind::Run: break;
    }
    if (step.entry->needsLine && c.link.state != LinkState::Open) {
        Say(c.notice, "not connected: %s is not open", c.options.device);
        return Nothing;
    }
    return step.entry->run(&c, now);
}

Reaction PromptAnswered(Session& c) {
    PromptPurpose purpose = c.ui.promptFor;
    c.ui.promptFor = PromptPurpose::None;
    if (purpose == PromptPurpose::Maps) {
        NewMaps(c, c.ui.prompt.text);  // empty: none
        return Nothing;
    }
    if (purpose == PromptPurpose::ReplayTime) {
        if (c.ui.prompt.text[0] != '\0') ReplayTimeAnswered(c, c.ui.prompt.text);
        return Nothing;
    }
    if (c.ui.prompt.text[0] == '\0') {
        c.features.transfers.pendingSend = SendState::Idle;
        c.features.transfers.pendingCapture = ReceiveMode::Off;
        return Nothing;
    }
    switch (purpose) {
        case PromptPurpose::SendName:
            StartSend(c.features.transfers, c.options.homeDirectory, c.ui.prompt.text, c.notice);
            break;
        case PromptPurpose::CaptureName:
            ChooseCapture(c.features.transfers, c.options.homeDirectory, c.ui.prompt.text, c.notice);
            break;
        case PromptPurpose::Search: Search(c); break;
        case PromptPurpose::Settings: NewSettings(c, c.ui.prompt.text); break;
        case PromptPurpose::ProtocolName: ProtocolNamed(c); break;
        case PromptPurpose::ScriptName: RunScriptFile(c, c.ui.prompt.text); break;
        case PromptPurpose::HexBytes: SendHexBytes(c, c.ui.prompt.text); break;
        case PromptPurpose::Maps:
        case PromptPurpose::ReplayTime: break;
        case PromptPurpose::None: break;
    }
    return Nothing;
}
