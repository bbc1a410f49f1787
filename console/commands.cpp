#include "console/commands.h"

#include <cstdio>
#include <cstring>

#include "console/hex_view.h"
#include "console/line_maps.h"
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
    }
}

void AskForFile(Console& c, PromptPurpose purpose, const char* label) {
    OpenPrompt(c.prompt, label, "");
    c.promptFor = purpose;
    c.tabListed = false;
}

Reaction BeginSend(Console& c, SendState mode) {
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

Reaction EndSendOrPaste(Console& c) {
    if (c.pump.PasteWaiting() > 0) {
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
    SayControl(c, result, "break sent", "BREAK");
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
    EchoQueued(c, wire, length);
}

void EchoQueued(Console& c, const uint8_t* bytes, unsigned count) {
    if (!c.style.echo) return;
    ReceiveTargets targets = ReceiveTargetsOf(c);
    EchoSent(targets, bytes, count);
}

namespace {

Reaction Exit(Console& c, int64_t) { return Leave(c, 0); }

Reaction Clear(Console&, int64_t) {
    ResetScreen();
    RepaintAll();
    return Nothing;
}

Reaction Redraw(Console&, int64_t) { return RedrawAll; }

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
Reaction EndSending(Console& c, int64_t) { return EndSendOrPaste(c); }
Reaction CaptureRaw(Console& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureRaw); }
Reaction CaptureText(Console& c, int64_t) { return BeginCapture(c, ReceiveMode::CaptureText); }

Reaction EndCapturing(Console& c, int64_t) {
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
    Say(c.notice, "%s", text);
    return Nothing;
}

// The table behind the menu: the order is the menu line's and the help
// page's, most used first, so a narrow line keeps what matters.
const MenuEntry Entries[] = {
    {MenuLevel::Top, 'x', "exit", "exit", Exit, MenuLevel::Closed, false},
    {MenuLevel::Top, 'c', "clear", "clear the screen", Clear, MenuLevel::Closed, false},
    {MenuLevel::Top, 's', "send", "send a file (then r, b, t or e)", nullptr, MenuLevel::Send, false},
    {MenuLevel::Top, 'r', "receive", "capture to a file (then r, t or e)", nullptr, MenuLevel::Receive, false},
    {MenuLevel::Top, 'h', "history", "history: PgUp, /, n, N, q", ShowHistory, MenuLevel::Closed, false},
    {MenuLevel::Top, 'b', "break", "send a BREAK", SendBreak, MenuLevel::Closed, true},
    {MenuLevel::Top, 'p', "settings", "line settings (speed...)", AskForSettings, MenuLevel::Closed, true},
    {MenuLevel::Top, 'f', "flow", "flow control on or off", ToggleFlow, MenuLevel::Closed, true},
    {MenuLevel::Top, 'd', "dtr", "DTR on or off", ToggleDtr, MenuLevel::Closed, true},
    {MenuLevel::Top, 'D', "reset", "pulse DTR (reset a board)", PulseDtr, MenuLevel::Closed, true},
    {MenuLevel::Top, 't', "rts", "RTS on or off", ToggleRts, MenuLevel::Closed, true},
    {MenuLevel::Top, 'm', "modem", "show the modem lines", ShowModemLines, MenuLevel::Closed, true},
    {MenuLevel::Top, 'H', "hex", "hex view on or off", ToggleHexView, MenuLevel::Closed, false},
    {MenuLevel::Top, 'w', "write-hex", "send bytes typed in hex", AskForHexBytes, MenuLevel::Closed, true},
    {MenuLevel::Top, 'M', "maps", "line-end maps (lf-crlf...)", AskForMaps, MenuLevel::Closed, false},
    {MenuLevel::Top, 'E', "echo", "local echo on or off", ToggleEcho, MenuLevel::Closed, false},
    {MenuLevel::Top, 'i', "counters", "counters: bytes, reconnects", ShowCounters, MenuLevel::Closed, false},
    {MenuLevel::Top, 'l', "redraw", "redraw the terminal", Redraw, MenuLevel::Closed, false},
    {MenuLevel::Top, '?', "help", "this page", ShowHelp, MenuLevel::Closed, false},
    {MenuLevel::Send, 'r', "raw", "send a raw file", SendRawFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 'b', "binary", "send a binary file", SendBinaryFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 't', "text", "send a text file", SendTextFile, MenuLevel::Closed, false},
    {MenuLevel::Send, 'e', "end", "end the send or paste", EndSending, MenuLevel::Closed, false},
    {MenuLevel::Receive, 'r', "raw", "capture raw", CaptureRaw, MenuLevel::Closed, false},
    {MenuLevel::Receive, 't', "text", "capture text", CaptureText, MenuLevel::Closed, false},
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
        case PromptPurpose::SendName: StartSend(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice); break;
        case PromptPurpose::CaptureName: ChooseCapture(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice); break;
        case PromptPurpose::Search: Search(c); break;
        case PromptPurpose::Settings: NewSettings(c, c.prompt.text); break;
        case PromptPurpose::HexBytes: SendHexBytes(c, c.prompt.text); break;
        case PromptPurpose::Maps: break;
        case PromptPurpose::None: break;
    }
    return Nothing;
}

void EndTimedControls(Console& c, int64_t now) {
    if (now >= c.breakEndsAt) {
        c.breakEndsAt = NoDeadline;
        if (c.link == LinkState::Open) c.line->SetBreak(false);
    }
    if (now >= c.dtrBackAt) {
        c.dtrBackAt = NoDeadline;
        if (c.link == LinkState::Open && c.line->SetModemOutput(ModemOutput::Dtr, true) == ControlResult::Done) {
            c.dtr = true;
            c.controls.dtr = 1;
        }
    }
}
