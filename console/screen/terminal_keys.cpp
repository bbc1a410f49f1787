#include "console/screen/terminal_keys.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>

#include <cstdio>
#include <cstring>

namespace {

struct KeyCodeEntry {
    int code;
    TerminalKey key;
    bool shifted;
};

const KeyCodeEntry FixedKeys[] = {
    {KEY_UP, TerminalKey::Up, false},          {KEY_SR, TerminalKey::Up, true},
    {KEY_DOWN, TerminalKey::Down, false},      {KEY_SF, TerminalKey::Down, true},
    {KEY_RIGHT, TerminalKey::Right, false},    {KEY_SRIGHT, TerminalKey::Right, true},
    {KEY_LEFT, TerminalKey::Left, false},      {KEY_SLEFT, TerminalKey::Left, true},
    {KEY_IC, TerminalKey::Insert, false},      {KEY_SIC, TerminalKey::Insert, true},
    {KEY_DC, TerminalKey::Delete, false},      {KEY_SDC, TerminalKey::Delete, true},
    {KEY_HOME, TerminalKey::Home, false},      {KEY_SHOME, TerminalKey::Home, true},
    {KEY_END, TerminalKey::End, false},        {KEY_SEND, TerminalKey::End, true},
    {KEY_PPAGE, TerminalKey::PageUp, false},   {KEY_SPREVIOUS, TerminalKey::PageUp, true},
    {KEY_NPAGE, TerminalKey::PageDown, false}, {KEY_SNEXT, TerminalKey::PageDown, true},
    {KEY_A1, TerminalKey::Keypad7, false},     {KEY_A3, TerminalKey::Keypad9, false},
    {KEY_B2, TerminalKey::Keypad5, false},     {KEY_C1, TerminalKey::Keypad1, false},
    {KEY_C3, TerminalKey::Keypad3, false},
};

// The keypad as the terminal's description names it (some only under
// extended names), else as terminals send it in application mode: a key the
// description leaves out gets a code of our own.
const struct {
    const char* capability;
    const char* sequence;
    TerminalKey key;
} KeypadKeys[] = {
    {"kpZRO", "\033Op", TerminalKey::Keypad0},        {"kc1", "\033Oq", TerminalKey::Keypad1},
    {"kc2", "\033Or", TerminalKey::Keypad2},          {"kc3", "\033Os", TerminalKey::Keypad3},
    {"kb1", "\033Ot", TerminalKey::Keypad4},          {"kb2", "\033Ou", TerminalKey::Keypad5},
    {"kb3", "\033Ov", TerminalKey::Keypad6},          {"ka1", "\033Ow", TerminalKey::Keypad7},
    {"ka2", "\033Ox", TerminalKey::Keypad8},          {"ka3", "\033Oy", TerminalKey::Keypad9},
    {"kpDOT", "\033On", TerminalKey::KeypadDecimal},  {"kpADD", "\033Ok", TerminalKey::KeypadAdd},
    {"kpSUB", "\033Om", TerminalKey::KeypadSubtract}, {"kpMUL", "\033Oj", TerminalKey::KeypadMultiply},
    {"kpDIV", "\033Oo", TerminalKey::KeypadDivide},
};
const unsigned KeypadCount = sizeof KeypadKeys / sizeof KeypadKeys[0];
static_assert(KeypadCount == KeyCodes::KeypadCount, "one code per keypad key");
const int OwnCodeBase = KEY_MAX + 1;
// The brackets a terminal puts around a paste once asked to.
const int PasteStartCode = OwnCodeBase + KeypadCount;
const int PasteEndCode = PasteStartCode + 1;
const char PasteStart[] = "\033[200~";
const char PasteEnd[] = "\033[201~";

// Home, End and keypad Enter as consoles send them, whatever the description says.
const struct {
    const char* sequence;
    int code;
} ConsoleSequences[] = {{"\033[1~", KEY_HOME}, {"\033[4~", KEY_END}, {"\033OM", KEY_ENTER}};

enum : uint8_t { BackspaceByte = 8, CarriageReturnByte = 13, DeleteByte = 127 };

TranslatedKey Byte(uint8_t byte) { return {KeyAction::Byte, byte, TerminalKey::Count, false}; }
TranslatedKey Sequence(TerminalKey key, bool shifted) { return {KeyAction::Sequence, 0, key, shifted}; }

}  // namespace

TranslatedKey TranslateKey(const KeyCodes& codes, int code, bool isKeyCode) {
    if (!isKeyCode) {
        // Terminals send DEL or ^H for Backspace; the host gets 0x08 either way.
        if (code == DeleteByte || code == BackspaceByte) return Byte(BackspaceByte);
        if (code < 0) return {KeyAction::Ignore, 0, TerminalKey::Count, false};
        if (code > 0xFF) return {KeyAction::Foreign, 0, TerminalKey::Count, false};
        return Byte(uint8_t(code));
    }
    if (code == KEY_BACKSPACE) return Byte(BackspaceByte);
    if (code == KEY_ENTER) return Byte(CarriageReturnByte);
    if (code == PasteStartCode) return {KeyAction::PasteStart, 0, TerminalKey::Count, false};
    if (code == PasteEndCode) return {KeyAction::PasteEnd, 0, TerminalKey::Count, false};
    for (const KeyCodeEntry& entry : FixedKeys) {
        if (entry.code == code) return Sequence(entry.key, entry.shifted);
    }
    for (unsigned i = 0; i < KeypadCount; ++i) {
        if (codes.keypad[i] != 0 && codes.keypad[i] == code) return Sequence(KeypadKeys[i].key, false);
    }
    if (code == KEY_F(1)) return Sequence(TerminalKey::KeypadDivide, false);    // PF1
    if (code == KEY_F(2)) return Sequence(TerminalKey::KeypadMultiply, false);  // PF2
    if (code == KEY_F(3)) return Sequence(TerminalKey::KeypadSubtract, false);  // PF3
    return {KeyAction::Foreign, 0, TerminalKey::Count, false};
}

void ForeignKeyName(int code, bool isKeyCode, char* text, unsigned capacity) {
    if (!isKeyCode) {
        std::snprintf(text, capacity, "U+%04X", unsigned(code));
    } else if (code >= KEY_F(0) && code <= KEY_F(63)) {
        std::snprintf(text, capacity, "F%d", code - KEY_F(0));
    } else if (code == KEY_BTAB) {
        std::snprintf(text, capacity, "Shift-Tab");
    } else {
        const char* name = keyname(code);
        if (name == nullptr) {
            std::snprintf(text, capacity, "key %d", code);
        } else {
            std::snprintf(text, capacity, "%s", std::strncmp(name, "KEY_", 4) == 0 ? name + 4 : name);
        }
    }
}

void LearnTerminalKeys(KeyCodes* codes) {
    for (unsigned i = 0; i < KeypadCount; ++i) {
        const char* text = tigetstr(KeypadKeys[i].capability);
        int code = (text != nullptr && text != (char*)-1) ? key_defined(text) : 0;
        if (code <= 0) code = key_defined(KeypadKeys[i].sequence);
        if (code == 0) {  // unknown, and no prefix of a known sequence
            code = OwnCodeBase + int(i);
            define_key(KeypadKeys[i].sequence, code);
        }
        codes->keypad[i] = code > 0 ? code : 0;
    }
    for (const auto& entry : ConsoleSequences) {
        if (key_defined(entry.sequence) == 0) define_key(entry.sequence, entry.code);
    }
    define_key(PasteStart, PasteStartCode);
    define_key(PasteEnd, PasteEndCode);
}
