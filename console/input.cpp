#include "console/input.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <cstdio>
#include <cstdlib>
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
    unsigned matches =
        CompleteFileName(c.options.homeDirectory, c.prompt.text, sizeof c.prompt.text, names, sizeof names);
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
    bool fileName = c.promptFor == PromptPurpose::SendName || c.promptFor == PromptPurpose::CaptureName ||
                    c.promptFor == PromptPurpose::ProtocolName || c.promptFor == PromptPurpose::ScriptName;
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

// Pasted bytes, already as they go on the wire, after what waits.
void QueuePasted(Console& c, const uint8_t* wire, unsigned count) {
    if (count == 0) return;
    if (c.view.open) {
        Say(c.notice, "not sent: the history is shown (q leaves it)");
        return;
    }
    if (c.protocol.active) {
        Say(c.notice, "not sent: a transfer runs (the menu key then e ends it)");
        return;
    }
    if (c.link != LinkState::Open) {
        c.counters.dropped += count;
        Say(c.notice, "not connected: the paste was not sent");
        return;
    }
    unsigned room = TypedCapacity - c.pump.Waiting();
    unsigned taken = count < room ? count : room;
    c.pump.Queue(wire, taken, true);
    EchoQueued(c, wire, taken);
    c.pasteTotal += taken;
    c.counters.dropped += count - taken;
    if (taken < count)
        Say(c.notice, "the paste did not fit in what waits for the line: the rest was not sent");
}

// A pasted byte through the rules for text and the sent line-end maps, onto
// `wire` as it goes out; returns how many bytes it added (0 to 2).
unsigned PastedOut(Console& c, uint8_t byte, uint8_t* wire) {
    uint8_t marked;
    if (PastedByte(c.pasteLineEnds, byte, c.options.sevenBit, &marked) == 0) return 0;
    uint8_t mapped[2];
    unsigned count = MapSent(c.style.maps, marked & SevenBits, mapped);
    for (unsigned i = 0; i < count; ++i) wire[i] = Originated(mapped[i], c.options.sevenBit);
    return count;
}

void Pasted(Console& c, const TranslatedKey& key) {
    if (key.action != KeyAction::Byte) return;  // keys inside a paste are not text
    uint8_t wire[2];
    QueuePasted(c, wire, PastedOut(c, key.byte, wire));
}

// One byte of a paste's text as curses would have handed it over, onto
// `wire`; returns how many bytes it added (0 to 2).
unsigned PastedCharacter(Console& c, uint8_t byte, uint8_t* wire) {
    // Printable ASCII, most of any paste, is itself in every locale.
    if (byte >= 0x20 && byte < 0x7F && !c.pasteMidCharacter) return PastedOut(c, byte, wire);
    int code = byte;
    // A locale of single bytes has each byte as a character.
    if ((byte >= 0x80 || c.pasteMidCharacter) && MB_CUR_MAX > 1) {
        wchar_t character;
        char in = char(byte);
        size_t length = mbrtowc(&character, &in, 1, &c.pasteDecode);
        c.pasteMidCharacter = length == size_t(-2);
        if (length == size_t(-2)) return 0;  // more of it to come
        if (length == size_t(-1)) {          // not a character: dropped, as curses does
            c.pasteDecode = mbstate_t();
            return 0;
        }
        code = length == 0 ? 0 : int(character);
    }
    TranslatedKey key = TranslateKey(c.keyCodes, code, false);
    if (key.action != KeyAction::Byte) return 0;
    return PastedOut(c, key.byte, wire);
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

unsigned PasteText(Console& c, const uint8_t* bytes, unsigned count) {
    static const char End[] = "\033[201~";
    const unsigned EndLength = sizeof End - 1;
    uint8_t wire[4096 + 2 * (EndLength + 1)];  // a map may double a byte
    unsigned length = 0, taken = count;
    for (unsigned i = 0; i < count; ++i) {
        if (c.pasteEndMatched == 0 && !c.pasteMidCharacter && (c.style.maps & SentMaps) == 0) {
            unsigned written, room = 4096 - length;
            i += PastePlainRun(c.pasteLineEnds, bytes + i, count - i < room ? count - i : room,
                               c.options.sevenBit, wire + length, &written);
            length += written;
            if (i == count) break;
        }
        uint8_t byte = bytes[i];
        if (byte == uint8_t(End[c.pasteEndMatched])) {
            if (++c.pasteEndMatched < EndLength) continue;
            c.pasteEndMatched = 0;
            c.inPaste = false;
            taken = i + 1;
            break;
        }
        // What looked like the end bracket was text; this byte may start it.
        for (unsigned k = 0; k < c.pasteEndMatched; ++k) {
            length += PastedCharacter(c, uint8_t(End[k]), wire + length);
        }
        c.pasteEndMatched = 0;
        if (byte == uint8_t(End[0])) {
            c.pasteEndMatched = 1;
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
            c.pasteEndMatched = 0;
            c.pasteDecode = mbstate_t();
            if (c.pump.PasteWaiting() + c.pump.PasteStaged() == 0) c.pasteTotal = 0;
        }
        return Nothing;
    }
    if (c.inPaste) {
        Pasted(c, key);
        return Nothing;
    }
    if (key.action == KeyAction::Ignore) return Nothing;
    if (c.notice.expires == 0) Forget(c.notice);
    MenuStep step = MenuKey(c.menu, c.options.prefixKey, key, CommandTable());
    if (c.view.open && step.kind == MenuStepKind::PassKey) {
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
    if (count > 0) SendTyped(c, bytes, count);
    return Nothing;
}
