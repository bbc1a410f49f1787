#include "console/rules/web_input.h"

#include <cstring>

#include "console/rules/keys.h"
#include "link/key_sequences.h"

namespace {

// A decimal number of up to 19 digits (no sign, nothing after, never past
// 64 bits): false when it is not one.
bool Decimal(const char* text, unsigned length, uint64_t* value) {
    if (length == 0 || length > 19) return false;
    uint64_t n = 0;
    for (unsigned i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        n = n * 10 + unsigned(text[i] - '0');
    }
    *value = n;
    return true;
}

enum : uint8_t { BackspaceByte = 8, TabByte = 9, CarriageReturnByte = 13, EscapeByte = 27 };

struct NamedKey {
    const char* name;
    TerminalKey key;
};

// Keys with a sequence of their own; Shift picks the shifted one.
const NamedKey NamedKeys[] = {
    {"ArrowUp", TerminalKey::Up},
    {"ArrowDown", TerminalKey::Down},
    {"ArrowRight", TerminalKey::Right},
    {"ArrowLeft", TerminalKey::Left},
    {"Insert", TerminalKey::Insert},
    {"Delete", TerminalKey::Delete},
    {"Home", TerminalKey::Home},
    {"End", TerminalKey::End},
    {"PageUp", TerminalKey::PageUp},
    {"PageDown", TerminalKey::PageDown},
    {"NumpadDivide", TerminalKey::KeypadDivide},
    {"NumpadMultiply", TerminalKey::KeypadMultiply},
    {"NumpadSubtract", TerminalKey::KeypadSubtract},
    {"NumpadAdd", TerminalKey::KeypadAdd},
    {"NumpadDecimal", TerminalKey::KeypadDecimal},
    {"F1", TerminalKey::KeypadDivide},    // PF1
    {"F2", TerminalKey::KeypadMultiply},  // PF2
    {"F3", TerminalKey::KeypadSubtract},  // PF3
};

// One UTF-8 character from `text` (at most `length` bytes): its code point,
// or -1 when malformed; `used` gets its length (at least 1).
long DecodeUtf8(const uint8_t* text, unsigned length, unsigned* used) {
    uint8_t lead = text[0];
    unsigned need = lead < 0x80             ? 0
                    : (lead & 0xE0) == 0xC0 ? 1
                    : (lead & 0xF0) == 0xE0 ? 2
                    : (lead & 0xF8) == 0xF0 ? 3
                                            : 9;
    *used = 1;
    if (need == 0) return lead;
    if (need == 9 || need >= length) return -1;
    long code = lead & (0x3F >> need);
    for (unsigned i = 1; i <= need; ++i) {
        if ((text[i] & 0xC0) != 0x80) return -1;
        code = (code << 6) | (text[i] & 0x3F);
    }
    *used = need + 1;
    return code;
}

void Key(const char* mods, unsigned modsLength, const char* name, unsigned nameLength, WebInput* input) {
    // Ctrl with Alt is AltGr on many layouts: the character is what it typed.
    bool ctrl =
        std::memchr(mods, 'C', modsLength) != nullptr && std::memchr(mods, 'A', modsLength) == nullptr;
    bool shift = std::memchr(mods, 'S', modsLength) != nullptr;
    auto is = [&](const char* what) {
        return std::strlen(what) == nameLength && std::memcmp(what, name, nameLength) == 0;
    };
    TranslatedKey key = {KeyAction::Ignore, 0, TerminalKey::Count, false};
    for (const NamedKey& named : NamedKeys) {
        if (is(named.name)) key = {KeyAction::Sequence, 0, named.key, shift};
    }
    if (nameLength == 7 && std::memcmp(name, "Numpad", 6) == 0 && name[6] >= '0' && name[6] <= '9') {
        key = {KeyAction::Sequence, 0, TerminalKey(unsigned(TerminalKey::Keypad0) + (name[6] - '0')), false};
    }
    if (is("Enter") || is("NumpadEnter"))
        key = {KeyAction::Byte, CarriageReturnByte, TerminalKey::Count, false};
    if (is("Backspace")) key = {KeyAction::Byte, BackspaceByte, TerminalKey::Count, false};
    if (is("Tab") && !shift) key = {KeyAction::Byte, TabByte, TerminalKey::Count, false};
    if (is("Escape")) key = {KeyAction::Byte, EscapeByte, TerminalKey::Count, false};
    unsigned used = 0;
    long code = nameLength > 0 ? DecodeUtf8(reinterpret_cast<const uint8_t*>(name), nameLength, &used) : -1;
    if (key.action == KeyAction::Ignore && code >= 0 && used == nameLength) {  // one character
        if (ctrl && code >= '@' && code <= '_')
            code -= '@';  // Ctrl-A .. Ctrl-_
        else if (ctrl && code >= 'a' && code <= 'z')
            code -= 'a' - 1;
        else if (ctrl && (code == ' ' || code == '2'))
            code = 0;  // Ctrl-Space, Ctrl-@
        else if (ctrl && code == '?')
            code = 127;
        if (code <= 0xFF) key = {KeyAction::Byte, uint8_t(code), TerminalKey::Count, false};
    }
    input->count = KeyBytes(key, input->bytes);
    if (input->count > 0) input->command = WebCommand::Bytes;
}

void Paste(const uint8_t* text, unsigned length, WebInput* input, unsigned* dropped) {
    unsigned count = 0;
    for (unsigned i = 0; i < length;) {
        unsigned used;
        long code = DecodeUtf8(text + i, length - i, &used);
        i += used;
        if (code == '\r' && i < length && text[i] == '\n') continue;  // CR LF: the LF makes the CR
        if (code == '\n') code = '\r';
        if (code < 0 || code > 0xFF || count == WebPasteCapacity) {
            ++*dropped;
            continue;
        }
        input->bytes[count++] = uint8_t(code);
    }
    input->count = count;
    input->paste = true;
    if (count > 0) input->command = WebCommand::Bytes;
}

}  // namespace

void ParseWebInput(const char* message, unsigned length, WebInput* input, unsigned* dropped) {
    input->command = WebCommand::Ignore;
    input->paste = input->on = input->live = false;
    input->count = 0;
    *dropped = 0;
    if (length == 0) return;
    const char* arg = message + 1;
    unsigned argLength = length - 1;
    switch (message[0]) {
        case 'k': {  // a key: mods, a space, its name
            const char* space = static_cast<const char*>(std::memchr(arg, ' ', argLength));
            if (space == nullptr) return;
            unsigned modsLength = unsigned(space - arg);
            Key(arg, modsLength, space + 1, argLength - modsLength - 1, input);
            return;
        }
        case 'p':  // a paste
            Paste(reinterpret_cast<const uint8_t*>(arg), argLength, input, dropped);
            return;
        case 'b':  // BREAK
            if (argLength == 0) input->command = WebCommand::Break;
            return;
        case 'd':  // DTR
        case 'r':  // RTS
            if (argLength != 1 || (arg[0] != '0' && arg[0] != '1')) return;
            input->command = message[0] == 'd' ? WebCommand::Dtr : WebCommand::Rts;
            input->on = arg[0] == '1';
            return;
        case 't':  // take the line
            if (argLength == 0) input->command = WebCommand::Take;
            return;
        case 'h': {  // history from a row, or live
            if (argLength == 1 && arg[0] == '-') {
                input->command = WebCommand::History;
                input->live = true;
                return;
            }
            if (!Decimal(arg, argLength, &input->row)) return;
            input->command = WebCommand::History;
            return;
        }
        case 'j':  // a replay's time
            if (Decimal(arg, argLength, &input->time)) input->command = WebCommand::Seek;
            return;
        case 'z':  // a replay paused or playing
            if (argLength != 1 || (arg[0] != '0' && arg[0] != '1')) return;
            input->command = WebCommand::Pause;
            input->on = arg[0] == '1';
            return;
        default: return;
    }
}
