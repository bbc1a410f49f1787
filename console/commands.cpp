#include "console/commands.h"

#include <cstdio>
#include <cstring>

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

void BeginSend(Console& c, SendState mode) {
    if (sendState != SendState::Idle) {
        Say(c.notice, "a send is running: the menu key then s e ends it");
        return;
    }
    c.transfers.pendingSend = mode;
    const char* name = mode == SendState::SendText ? "text" : mode == SendState::SendRaw ? "raw" : "binary";
    char label[48];
    std::snprintf(label, sizeof label, "send %s file", name);
    AskForFile(c, PromptPurpose::SendName, label);
}

void BeginCapture(Console& c, ReceiveMode mode) {
    if (receiveMode != ReceiveMode::Off) {
        Say(c.notice, "a capture is running: the menu key then r e ends it");
        return;
    }
    c.transfers.pendingCapture = mode;
    AskForFile(c, PromptPurpose::CaptureName,
               mode == ReceiveMode::CaptureRaw ? "capture raw to file" : "capture text to file");
}

void EndSendOrPaste(Console& c) {
    if (c.pump.PasteWaiting() > 0) {
        unsigned dropped = c.pump.DropPaste();
        c.pasteTotal = 0;
        Say(c.notice, "paste ended: %u bytes not sent", dropped);
        return;
    }
    EndSendCommand(c.transfers, c.notice);
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

void SendBreak(Console& c, int64_t now) {
    ControlResult result = c.line->SetBreak(true);
    if (result == ControlResult::Done) c.breakEndsAt = now + BreakMilliseconds;
    SayControl(c, result, "break sent", "BREAK");
}

void PulseDtr(Console& c, int64_t now) {
    ControlResult result = c.line->SetModemOutput(ModemOutput::Dtr, false);
    if (result == ControlResult::Done) c.dtrBackAt = now + DtrPulseMilliseconds;
    SayControl(c, result, "DTR pulsed off and on (reset)", "modem lines (DTR, RTS)");
}

void ShowModemLines(Console& c) {
    ModemLines lines = {};
    ControlResult result = c.line->ReadModemLines(&lines);
    if (result != ControlResult::Done) {
        SayControl(c, result, "", "modem lines (CTS, DSR, DCD, RI)");
        return;
    }
    Say(c.notice, "CTS %s  DSR %s  DCD %s  RI %s  |  DTR %s  RTS %s", OnOff(lines.cts),
        OnOff(lines.dsr), OnOff(lines.dcd), OnOff(lines.ri), OnOff(lines.dtr), OnOff(lines.rts));
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

void ToggleFlow(Console& c) {
    LineControls controls = c.controls;
    controls.hardwareFlow = !controls.hardwareFlow;
    if (!ApplyControls(c, controls)) return;
    c.options.hardwareFlow = controls.hardwareFlow;
    Say(c.notice, "flow control: %s", controls.hardwareFlow ? "rtscts" : "none");
}

void AskForSettings(Console& c) {
    if (!c.line->HasSettings()) {
        Say(c.notice, "line settings are the server's business on %s", c.line->Name());
        return;
    }
    OpenPrompt(c.prompt, "line settings", c.options.settingsText);
    c.promptFor = PromptPurpose::Settings;
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

void Search(Console& c) {
    std::snprintf(c.view.search, sizeof c.view.search, "%.79s", c.prompt.text);
    c.view.haveMatch = false;
    if (!FindInView(c.view, c.history, screen.cells, true)) Say(c.notice, "not found: %s", c.view.search);
}

}  // namespace

void SendTyped(Console& c, const uint8_t* bytes, unsigned count) {
    if (c.link != LinkState::Open) {
        Say(c.notice, "not connected: the key was not sent");
        return;
    }
    uint8_t wire[3];
    if (count > sizeof wire) return;
    for (unsigned i = 0; i < count; ++i) wire[i] = Originated(bytes[i], c.options.sevenBit);
    if (!c.pump.Queue(wire, count, false)) {
        Say(c.notice, "%u bytes wait for the line: the key was not sent", c.pump.Waiting());
        return;
    }
    KeysSent(c.bit7, wire, count, MonotonicMilliseconds());
}

Reaction RunCommand(Console& c, MenuCommand command, int64_t now) {
    switch (command) {
        case MenuCommand::PassKey:
        case MenuCommand::Opened:
        case MenuCommand::Cancelled:
            break;
        case MenuCommand::SendPrefix: SendTyped(c, &c.options.prefixKey, 1); break;
        case MenuCommand::Exit:
            c.exitCode = 0;
            return Quit;
        case MenuCommand::Clear:
            ResetScreen();
            AnsiScreenReset(c.ansi);
            RepaintAll();
            break;
        case MenuCommand::ToggleAnsi:
            c.ansi.hide = !c.ansi.hide;
            c.options.ansiShown = !c.ansi.hide;
            Say(c.notice, "ANSI sequences: %s", c.ansi.hide ? "hidden" : "shown as received");
            break;
        case MenuCommand::ToggleSevenBit:
            c.options.sevenBit = !c.options.sevenBit;
            Say(c.notice, "keys and text go out with bit 7 %s", c.options.sevenBit ? "clear (7-bit)" : "set");
            break;
        case MenuCommand::Redraw: return Draw | RedrawAll;
        case MenuCommand::History:
            if (c.history.Capacity() == 0) {
                Say(c.notice, "the history is off (--history 0)");
            } else {
                OpenView(c.view, c.history);
            }
            break;
        case MenuCommand::SendRaw: BeginSend(c, SendState::SendRaw); break;
        case MenuCommand::SendBinary: BeginSend(c, SendState::SendBinary); break;
        case MenuCommand::SendText: BeginSend(c, SendState::SendText); break;
        case MenuCommand::SendEnd: EndSendOrPaste(c); break;
        case MenuCommand::ReceiveRaw: BeginCapture(c, ReceiveMode::CaptureRaw); break;
        case MenuCommand::ReceiveText: BeginCapture(c, ReceiveMode::CaptureText); break;
        case MenuCommand::ReceiveEnd: EndCaptureCommand(c.transfers, c.notice); break;
        case MenuCommand::Break:
            if (Connected(c)) SendBreak(c, now);
            break;
        case MenuCommand::ToggleDtr:
            if (Connected(c)) SetModemOutput(c, ModemOutput::Dtr, !c.dtr);
            break;
        case MenuCommand::ToggleRts:
            if (c.controls.hardwareFlow) {
                Say(c.notice, "RTS/CTS flow control drives RTS: turn it off first (menu key, f)");
            } else if (Connected(c)) {
                SetModemOutput(c, ModemOutput::Rts, !c.rts);
            }
            break;
        case MenuCommand::PulseDtr:
            if (Connected(c)) PulseDtr(c, now);
            break;
        case MenuCommand::ModemLines:
            if (Connected(c)) ShowModemLines(c);
            break;
        case MenuCommand::LineSettings:
            if (Connected(c)) AskForSettings(c);
            break;
        case MenuCommand::ToggleFlow:
            if (Connected(c)) ToggleFlow(c);
            break;
    }
    return Draw;
}

Reaction PromptAnswered(Console& c) {
    PromptPurpose purpose = c.promptFor;
    c.promptFor = PromptPurpose::None;
    if (c.prompt.text[0] == '\0') {
        c.transfers.pendingSend = SendState::Idle;
        c.transfers.pendingCapture = ReceiveMode::Off;
        return Draw;
    }
    switch (purpose) {
        case PromptPurpose::SendName: StartSend(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice); break;
        case PromptPurpose::CaptureName: ChooseCapture(c.transfers, c.options.homeDirectory, c.prompt.text, c.notice); break;
        case PromptPurpose::Search: Search(c); break;
        case PromptPurpose::Settings: NewSettings(c, c.prompt.text); break;
        case PromptPurpose::None: break;
    }
    return Draw;
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
