#include "console/program/input.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/program/commands.h"
#include "console/rules/line_maps.h"
#include "console/line/line_speed.h"
#include "console/program/send.h"
#include "core/screen.h"

namespace {

// Tab in a file prompt completes; a second Tab that changed nothing lists
// the names that match.
void CompleteName(Session& c) {
    char before[PathCapacity];
    std::snprintf(before, sizeof before, "%s", c.ui.prompt.text);
    char names[NoticeCapacity];
    unsigned matches = CompleteFileName(c.options.homeDirectory, c.ui.prompt.text, sizeof c.ui.prompt.text,
                                        names, sizeof names);
    c.ui.prompt.length = unsigned(std::strlen(c.ui.prompt.text));
    bool changed = std::strcmp(before, c.ui.prompt.text) != 0;
    if (matches > 1 && !changed && c.ui.tabListed) Say(c.notice, "%s", names);
    c.ui.tabListed = matches > 1 && !changed;
}

// Tab and Up step the prompt's speed up through the standard ones, Down down.
void StepSpeed(Session& c, int direction) {
    LineSettings settings = c.link.controls.settings;
    const char* fault = nullptr;
    if (!ParseLineSettings(c.ui.prompt.text, &settings, &fault)) settings = c.link.controls.settings;
    settings.baud = StepStandardSpeed(settings.baud, direction);
    char text[SettingsTextCapacity];
    FormatLineSettings(settings, text, sizeof text);
    SetPromptText(c.ui.prompt, text);
}

Reaction PromptInput(Session& c, int code, bool isKeyCode) {
    PromptResult result = PromptKey(c.ui.prompt, code, isKeyCode);
    bool settings = c.ui.promptFor == PromptPurpose::Settings;
    bool fileName =
        c.ui.promptFor == PromptPurpose::SendName || c.ui.promptFor == PromptPurpose::CaptureName ||
        c.ui.promptFor == PromptPurpose::ProtocolName || c.ui.promptFor == PromptPurpose::ScriptName;
    switch (result) {
        case PromptResult::Accepted: return PromptAnswered(c);
        case PromptResult::Cancelled:
            c.ui.promptFor = PromptPurpose::None;
            c.features.transfers.pendingSend = SendState::Idle;
            c.features.transfers.pendingCapture = ReceiveMode::Off;
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
    c.ui.tabListed = false;
    return Nothing;
}

// Pasted text, its line ends done, after what waits.
void QueuePasted(Session& c, const uint8_t* text, unsigned count) {
    if (count == 0) return;
    unsigned queued;
    Send(c, SendSource::Paste, text, count, &queued);
    c.input.pasteTotal += queued;
}

// A pasted byte through the rules for text onto `text`; returns how many
// bytes it added (0 or 1).
unsigned PastedOut(Session& c, uint8_t byte, uint8_t* text) {
    return PastedByte(c.input.pasteLineEnds, byte, c.options.sevenBit, text);
}

void Pasted(Session& c, const TranslatedKey& key) {
    if (key.action != KeyAction::Byte) return;  // keys inside a paste are not text
    uint8_t text[1];
    QueuePasted(c, text, PastedOut(c, key.byte, text));
}

// One byte of a paste's text as curses would have handed it over, onto
// `wire`; returns how many bytes it added (0 or 1).
unsigned PastedCharacter(Session& c, uint8_t byte, uint8_t* wire) {
    // Printable ASCII, most of any paste, is itself in every locale.
    if (byte >= 0x20 && byte < 0x7F && !c.input.pasteMidCharacter) return PastedOut(c, byte, wire);
    int code = byte;
    // A locale of single bytes has each byte as a character.
    if ((byte >= 0x80 || c.input.pasteMidCharacter) && MB_CUR_MAX > 1) {
        wchar_t character;
        char in = char(byte);
        size_t length = mbrtowc(&character, &in, 1, &c.input.pasteDecode);
        c.input.pasteMidCharacter = length == size_t(-2);
        if (length == size_t(-2)) return 0;  // more of it to come
        if (length == size_t(-1)) {          // not a character: dropped, as curses does
            c.input.pasteDecode = mbstate_t();
            return 0;
        }
        code = length == 0 ? 0 : int(character);
    }
    TranslatedKey key = TranslateKey(c.input.keyCodes, code, false);
    if (key.action != KeyAction::Byte) return 0;
    return PastedOut(c, key.byte, wire);
}

// q or Escape leaves; the menu key still opens the menu.
Reaction ViewInput(Session& c, int code, bool isKeyCode) {
    const History& h = c.ui.history;
    if (isKeyCode) {
        switch (code) {
            case KEY_UP: MoveView(c.ui.view, h, ViewMove::LineUp); break;
            case KEY_DOWN: MoveView(c.ui.view, h, ViewMove::LineDown); break;
            case KEY_PPAGE: MoveView(c.ui.view, h, ViewMove::PageUp); break;
            case KEY_NPAGE: MoveView(c.ui.view, h, ViewMove::PageDown); break;
            case KEY_HOME: MoveView(c.ui.view, h, ViewMove::Oldest); break;
            case KEY_END: MoveView(c.ui.view, h, ViewMove::Newest); break;
            default: break;
        }
        return Nothing;
    }
    switch (code) {
        case 'q':
        case EscapeKey: c.ui.view.open = false; break;
        case '/':
            OpenPrompt(c.ui.prompt, "search", "");
            c.ui.promptFor = PromptPurpose::Search;
            break;
        case 'n':
        case 'N':
            if (c.ui.view.search[0] == '\0') {
                Say(c.notice, "nothing to find yet: / asks for the text");
            } else if (!FindInView(c.ui.view, h, screen.cells, code == 'n')) {
                Say(c.notice, "not found: %s (no %s match)", c.ui.view.search,
                    code == 'n' ? "older" : "newer");
            }
            break;
        default: break;
    }
    return Nothing;
}

}  // namespace

unsigned PasteText(Session& c, const uint8_t* bytes, unsigned count) {
    static const char End[] = "\033[201~";
    const unsigned EndLength = sizeof End - 1;
    uint8_t wire[4096 + EndLength + 1];
    unsigned length = 0, taken = count;
    for (unsigned i = 0; i < count; ++i) {
        if (c.input.pasteEndMatched == 0 && !c.input.pasteMidCharacter) {  // plain text: a run at once
            unsigned written, room = 4096 - length;
            i += PastePlainRun(c.input.pasteLineEnds, bytes + i, count - i < room ? count - i : room,
                               c.options.sevenBit, wire + length, &written);
            length += written;
            if (i == count) break;
        }
        uint8_t byte = bytes[i];
        if (byte == uint8_t(End[c.input.pasteEndMatched])) {
            if (++c.input.pasteEndMatched < EndLength) continue;
            c.input.pasteEndMatched = 0;
            c.input.inPaste = false;
            taken = i + 1;
            break;
        }
        // What looked like the end bracket was text; this byte may start it.
        for (unsigned k = 0; k < c.input.pasteEndMatched; ++k) {
            length += PastedCharacter(c, uint8_t(End[k]), wire + length);
        }
        c.input.pasteEndMatched = 0;
        if (byte == uint8_t(End[0])) {
            c.input.pasteEndMatched = 1;
        } else {
            length += PastedCharacter(c, byte, wire + length);
        }
        if (length >= 4096) {
            QueuePasted(c, wire, length);
            length = 0;
        }
    }
    QueuePasted(c, wire, length);
    return taken;
}

Reaction HandleKey(Session& c, int code, bool isKeyCode, int64_t now) {
    if (c.ui.prompt.active) return PromptInput(c, code, isKeyCode);
    if (c.ui.helpOpen) {
        c.ui.helpOpen = false;  // any key goes back
        return Nothing;
    }
    if (c.features.transfers.askingOverwrite) {
        OverwriteKey(c.features.transfers, code, isKeyCode, c.notice);
        return Nothing;
    }
    TranslatedKey key = TranslateKey(c.input.keyCodes, code, isKeyCode);
    if (key.action == KeyAction::PasteStart || key.action == KeyAction::PasteEnd) {
        c.input.inPaste = key.action == KeyAction::PasteStart;
        if (c.input.inPaste) {
            c.input.pasteLineEnds = TextLineEnds();
            c.input.pasteEndMatched = 0;
            c.input.pasteDecode = mbstate_t();
            if (c.pump.PasteWaiting() + c.pump.PasteStaged() == 0) c.input.pasteTotal = 0;
        }
        return Nothing;
    }
    if (c.input.inPaste) {
        Pasted(c, key);
        return Nothing;
    }
    if (key.action == KeyAction::Ignore) return Nothing;
    if (c.notice.expires == 0) Forget(c.notice);
    MenuStep step = MenuKey(c.ui.menu, c.options.prefixKey, key, CommandTable());
    if (c.ui.view.open && step.kind == MenuStepKind::PassKey) {
        return ViewInput(c, code, isKeyCode);  // keys meant for the host are not sent
    }
    if (step.kind != MenuStepKind::PassKey) return RunMenuStep(c, step, now);
    if (key.action == KeyAction::Foreign) {
        char name[32];
        ForeignKeyName(code, isKeyCode, name, sizeof name);
        Say(c.notice, "%s: not a key of this terminal", name);
        return Nothing;
    }
    uint8_t bytes[3];
    unsigned count = KeyBytes(key, bytes);
    if (count > 0) Send(c, SendSource::Key, bytes, count);
    return Nothing;
}
