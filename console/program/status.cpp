#include "console/program/status.h"
#include "console/line/clock.h"
#include "console/program/recorded.h"
#include "console/program/served.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/line/serial_devices.h"
#include "console/program/commands.h"
#include "console/program/stamps.h"
#include "console/screen/display.h"

namespace {

// Appends to the text, cut to fit.
void Add(char* text, unsigned capacity, const char* format, ...) __attribute__((format(printf, 3, 4)));
void Add(char* text, unsigned capacity, const char* format, ...) {
    size_t used = std::strlen(text);
    if (used + 1 >= capacity) return;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text + used, capacity - used, format, arguments);
    va_end(arguments);
}

void AddView(const Session& c, char* text, unsigned capacity) {
    uint64_t first = FirstViewRow(c.ui.history);
    uint64_t total = LastViewRow(c.ui.history) - first + 1;
    char from[32], to[32], of[32], fresh[32];
    FormatCount(c.ui.view.top - first + 1, from, sizeof from);
    FormatCount(c.ui.view.top - first + ScreenRows, to, sizeof to);
    FormatCount(total, of, sizeof of);
    Add(text, capacity, " history %s-%s of %s |", from, to, of);
    uint64_t arrived = NewRows(c.ui.view, c.ui.history);
    if (arrived > 0) {
        FormatCount(arrived, fresh, sizeof fresh);
        Add(text, capacity, " %s new |", fresh);
    }
    if (c.notice.text[0] != '\0') Add(text, capacity, " %s |", c.notice.text);
    Add(text, capacity, " q leave  / find  n older  N newer  PgUp PgDn Home End");
}

// " ymodem send image.bin 524,288/1,048,576 50% 0 errors |"
void AddProtocol(const ProtocolRun& run, char* text, unsigned capacity) {
    const ProtocolProgress& p = run.progress;
    char done[32], total[32];
    FormatCount(p.bytes, done, sizeof done);
    Add(text, capacity, " %s %s %s %s", ProtocolName(run.protocol),
        run.direction == ProtocolDirection::Send ? "send" : "receive", p.file[0] != '\0' ? p.file : "-",
        done);
    if (p.total > 0) {
        FormatCount(p.total, total, sizeof total);
        Add(text, capacity, "/%s %d%%", total, ProgressPercent(p));
    }
    Add(text, capacity, " %u error%s", p.errors, p.errors == 1 ? "" : "s");
    unsigned stalled = ProtocolStalledSeconds(run, MonotonicMilliseconds());
    if (stalled > 0) Add(text, capacity, ", nothing moved for %u s", stalled);
    Add(text, capacity, " |");
}

void AddRunning(const Session& c, TransferModes modes, bool unicode, char* text, unsigned capacity) {
    const Transfers& t = c.features.transfers;
    const char* name = c.link.line ? c.link.line->Name() : c.options.device;
    if (c.link.state == LinkState::Connecting && !c.link.everOpened) {
        Add(text, capacity, " connecting to %s%s |", name, unicode ? "\u2026" : "...");
    } else if (c.link.state != LinkState::Open) {
        if (c.options.autoConnect != AutoConnect::Off) {  // no name to give
            name = c.options.autoConnect == AutoConnect::New ? "a new device" : "a device";
        } else if (ClassifyDeviceName(c.options.device) != DeviceNameForm::Path) {
            name = c.options.device;  // what it answers to, wherever it comes back
        }
        Add(text, capacity, c.link.everOpened ? " disconnected, waiting for %s |" : " waiting for %s |",
            name);
    }
    if (c.features.protocol.active) AddProtocol(c.features.protocol, text, capacity);
    if (modes.send != SendState::Idle) {
        Add(text, capacity, " send %s %llu/%llu |", t.sendName, (unsigned long long)t.sendDone,
            (unsigned long long)t.sendTotal);
    }
    unsigned pasteLeft = c.pump.PasteWaiting() + c.pump.PasteStaged();
    if (pasteLeft > 0) {
        Add(text, capacity, " paste %llu/%llu |", (unsigned long long)(c.input.pasteTotal - pasteLeft),
            (unsigned long long)c.input.pasteTotal);
    }
    if (modes.capture != ReceiveMode::Off) {
        Add(text, capacity, " capture %s %llu |", t.captureName, (unsigned long long)modes.captured);
    }
    unsigned typed = c.pump.Waiting() - c.pump.PasteWaiting(), staged = 0;
    c.pump.Pending(&staged);
    // Keys go out in runs: a run not yet taken waits too.
    if (modes.send == SendState::Idle && c.pump.PasteStaged() == 0) typed += staged;
    if (typed > 0) Add(text, capacity, " %u bytes wait |", typed);
    if (c.features.log.Active()) Add(text, capacity, " log |");
    AddLastMark(c, text, capacity);
    if (c.features.share.listener >= 0) {
        Add(text, capacity, " shared: %u client%s |", c.features.share.clients,
            c.features.share.clients == 1 ? "" : "s");
    }
    char attached[384];
    if (AttachedStatus(c, attached, sizeof attached)) Add(text, capacity, " %s |", attached);
    if (ReplayStatus(c, attached, sizeof attached)) Add(text, capacity, " %s |", attached);
    if (ScriptRunning(c.features.script)) {
        const char* slash = std::strrchr(c.features.script.name, '/');
        Add(text, capacity, " script %s |", slash != nullptr ? slash + 1 : c.features.script.name);
    }
    if (c.ansi.hide && c.ansi.hidden > 0) {
        char hidden[32];
        FormatCount(c.ansi.hidden, hidden, sizeof hidden);
        Add(text, capacity, " ansi: %s hidden |", hidden);
    }
    if (c.style.hex) Add(text, capacity, " hex |");
    if (c.style.echo) Add(text, capacity, " echo |");
}

}  // namespace

int ComposeStatus(const Session& c, const StatusFrame& frame, char* text, unsigned capacity) {
    TransferModes modes = frame.modes;
    int width = frame.width;
    text[0] = '\0';
    if (c.ui.menu != MenuLevel::Closed) {
        char menu[StatusCapacity];
        ComposeMenuLine(c.ui.menu, CommandTable(), width, menu, sizeof menu);
        Add(text, capacity, " %s", menu);
        return -1;
    }
    if (c.ui.prompt.active) {
        // The end of a long entry shows: that is where typing happens.
        int room = width - 2 - int(std::strlen(c.ui.prompt.label)) - 2;
        if (room < 1) room = 1;
        const char* shown = c.ui.prompt.text;
        if (c.ui.prompt.length > unsigned(room)) shown += c.ui.prompt.length - unsigned(room);
        Add(text, capacity, " %s: %s", c.ui.prompt.label, shown);
        return int(std::strlen(text));
    }
    if (c.features.transfers.askingOverwrite) {
        char question[PathCapacity + 64];
        OverwriteQuestion(c.features.transfers, question, sizeof question);
        Add(text, capacity, " %s", question);
        return -1;
    }
    if (c.ui.view.open) {
        if (frame.lines != nullptr && frame.lines[0] != '\0') Add(text, capacity, " %s |", frame.lines);
        AddView(c, text, capacity);
        return -1;
    }
    if (frame.lines != nullptr && frame.lines[0] != '\0') Add(text, capacity, " %s |", frame.lines);
    // The message answers the last key, so it comes first.
    if (c.notice.text[0] != '\0') Add(text, capacity, " %s |", c.notice.text);
    AddRunning(c, modes, frame.unicode, text, capacity);
    if (c.link.state == LinkState::Open) {
        if (c.link.line->HasSettings()) {
            Add(text, capacity, " %s %s %s%s |", c.link.line->Name(), c.options.settingsText,
                c.link.controls.hardwareFlow ? "rtscts" : "none", c.options.sevenBit ? "" : " 8-bit");
        } else {
            Add(text, capacity, " %s (settings: the server's)%s |", c.link.line->Name(),
                c.options.sevenBit ? "" : " 8-bit");
        }
    }
    char prefix[16];
    FormatPrefixKey(c.options.prefixKey, prefix, sizeof prefix);
    Add(text, capacity, " %s: menu", prefix);
    return -1;
}
