#include "console/input.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdio>
#include <cstring>

#include "console/commands.h"
#include "console/line_maps.h"
#include "console/line/line_speed.h"
#include "core/screen.h"

namespace {

// Tab in a file prompt completes; a second Tab that changed nothing lists
// the names that match.
void CompleteName(Console& c) {
    char before[PathCapacity];
    std::snprintf(before, sizeof before, "%s", c.prompt.text);
    char names[NoticeCapacity];
    unsigned matches = CompleteFileName(c.options.homeDirectory, c.prompt.text, sizeof c.prompt.text,
                                       names, sizeof names);
    c.prompt.length = unsigned(std::strlen(c.prompt.text));
    bool changed = std::strcmp(before, c.prompt.text) != 0;
    if (matches > 1 && !changed && c.tabListed) Say(c.notice, "%s", names);
    c.tabListed = matches > 1 && !changed;
}

// Tab and Up step the prompt's speed up through the standard ones, Down down.
void StepSpeed(Console& c, int direction) {
    LineSettings settings = c.controls.settings;
    const char* fault = nullptr;
    if (!ParseLineSettings(c.prompt.text, &settings, &fault)) settings = c.controls.settings;
    settings.baud = StepStandardSpeed(settings.baud, direction);
    char text[SettingsTextCapacity];
    FormatLineSettings(settings, text, sizeof text);
    SetPromptText(c.prompt, text);
}

Reaction PromptInput(Console& c, int code, bool isKeyCode) {
    PromptResult result = PromptKey(c.prompt, code, isKeyCode);
    bool settings = c.promptFor == PromptPurpose::Settings;
    bool fileName = c.promptFor == PromptPurpose::SendName || c.promptFor == PromptPurpose::CaptureName;
    switch (result) {
        case PromptResult::Accepted: return PromptAnswered(c);
        case PromptResult::Cancelled:
            c.promptFor = PromptPurpose::None;
            c.transfers.pendingSend = SendState::Idle;
            c.transfers.pendingCapture = ReceiveMode::Off;
            break;
        case PromptResult::Tab:
            if (fileName) CompleteName(c);
            if (settings) StepSpeed(c, +1);
            return Nothing;
        case PromptResult::Up:
        case PromptResult::Down:
            if (settings) StepSpeed(c, result == PromptResult::Up ? +1 : -1);
            break;
        case PromptResult::Editing: break;
    }
    c.tabListed = false;
    return Nothing;
}

void Pasted(Console& c, const TranslatedKey& key) {
    if (key.action != KeyAction::Byte) return;  // keys inside a paste are not text
    if (c.view.open) {
        Say(c.notice, "not sent: the history is shown (q leaves it)");
        return;
    }
    if (c.link != LinkState::Open) {
        ++c.counters.dropped;
        Say(c.notice, "not connected: the paste was not sent");
        return;
    }
    uint8_t marked;
    if (PastedByte(c.pasteLineEnds, key.byte, c.options.sevenBit, &marked) == 0) return;
    uint8_t wire[2];
    unsigned count = MapSent(c.style.maps, marked & SevenBits, wire);
    for (unsigned i = 0; i < count; ++i) wire[i] = Originated(wire[i], c.options.sevenBit);
    if (!c.pump.Queue(wire, count, true)) {
        c.counters.dropped += count;
        Say(c.notice, "the paste did not fit in what waits for the line: the rest was not sent");
        return;
    }
    EchoQueued(c, wire, count);
    c.pasteTotal += count;
}

// q or Escape leaves; the menu key still opens the menu.
Reaction ViewInput(Console& c, int code, bool isKeyCode) {
    const History& h = c.history;
    if (isKeyCode) {
        switch (code) {
            case KEY_UP: MoveView(c.view, h, ViewMove::LineUp); break;
            case KEY_DOWN: MoveView(c.view, h, ViewMove::LineDown); break;
            case KEY_PPAGE: MoveView(c.view, h, ViewMove::PageUp); break;
            case KEY_NPAGE: MoveView(c.view, h, ViewMove::PageDown); break;
            case KEY_HOME: MoveView(c.view, h, ViewMove::Oldest); break;
            case KEY_END: MoveView(c.view, h, ViewMove::Newest); break;
            default: break;
        }
        return Nothing;
    }
    switch (code) {
        case 'q':
        case EscapeKey: c.view.open = false; break;
        case '/':
            OpenPrompt(c.prompt, "search", "");
            c.promptFor = PromptPurpose::Search;
            break;
        case 'n':
        case 'N':
            if (c.view.search[0] == '\0') {
                Say(c.notice, "nothing to find yet: / asks for the text");
            } else if (!FindInView(c.view, h, screen.cells, code == 'n')) {
                Say(c.notice, "not found: %s (no %s match)", c.view.search, code == 'n' ? "older" : "newer");
            }
            break;
        default: break;
    }
    return Nothing;
}

}  // namespace

Reaction HandleKey(Console& c, int code, bool isKeyCode, int64_t now) {
    if (c.prompt.active) return PromptInput(c, code, isKeyCode);
    if (c.helpOpen) {
        c.helpOpen = false;  // any key goes back
        return Nothing;
    }
    if (c.transfers.askingOverwrite) {
        OverwriteKey(c.transfers, code, isKeyCode, c.notice);
        return Nothing;
    }
    TranslatedKey key = TranslateKey(c.keyCodes, code, isKeyCode);
    if (key.action == KeyAction::PasteStart || key.action == KeyAction::PasteEnd) {
        c.inPaste = key.action == KeyAction::PasteStart;
        if (c.inPaste) {
            c.pasteLineEnds = TextLineEnds();
            if (c.pump.PasteWaiting() == 0) c.pasteTotal = 0;
        }
        return Nothing;
    }
    if (c.inPaste) {
        Pasted(c, key);
        return Nothing;
    }
    if (key.action == KeyAction::Ignore) return Nothing;
    Forget(c.notice);
    MenuStep step = MenuKey(c.menu, c.options.prefixKey, key, CommandTable());
    if (c.view.open && step.kind == MenuStepKind::PassKey) {
        return ViewInput(c, code, isKeyCode);  // keys meant for the host are not sent
    }
    if (step.kind != MenuStepKind::PassKey) return RunMenuStep(c, step, now);
    uint8_t bytes[3];
    unsigned count = KeyBytes(key, bytes);
    if (count > 0) SendTyped(c, bytes, count);
    return Nothing;
}
