#include "console/keys.h"

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>

namespace {

struct KeyCodeEntry {
    int code;
    TerminalKey key;
    bool shifted;
};

const KeyCodeEntry FixedKeys[] = {
    {KEY_UP, TerminalKey::Up, false},           {KEY_SR, TerminalKey::Up, true},
    {KEY_DOWN, TerminalKey::Down, false},       {KEY_SF, TerminalKey::Down, true},
    {KEY_RIGHT, TerminalKey::Right, false},     {KEY_SRIGHT, TerminalKey::Right, true},
    {KEY_LEFT, TerminalKey::Left, false},       {KEY_SLEFT, TerminalKey::Left, true},
    {KEY_IC, TerminalKey::Insert, false},       {KEY_SIC, TerminalKey::Insert, true},
    {KEY_DC, TerminalKey::Delete, false},       {KEY_SDC, TerminalKey::Delete, true},
    {KEY_HOME, TerminalKey::Home, false},       {KEY_SHOME, TerminalKey::Home, true},
    {KEY_END, TerminalKey::End, false},         {KEY_SEND, TerminalKey::End, true},
    {KEY_PPAGE, TerminalKey::PageUp, false},    {KEY_SPREVIOUS, TerminalKey::PageUp, true},
    {KEY_NPAGE, TerminalKey::PageDown, false},  {KEY_SNEXT, TerminalKey::PageDown, true},
    {KEY_A1, TerminalKey::Keypad7, false},      {KEY_A3, TerminalKey::Keypad9, false},
    {KEY_B2, TerminalKey::Keypad5, false},      {KEY_C1, TerminalKey::Keypad1, false},
    {KEY_C3, TerminalKey::Keypad3, false},
};

// Keypad keys some terminals describe only by extended capability names.
const struct {
    const char* capability;
    TerminalKey key;
} ExtendedKeys[] = {
    {"kpADD", TerminalKey::KeypadAdd},     {"kpSUB", TerminalKey::KeypadSubtract},
    {"kpMUL", TerminalKey::KeypadMultiply}, {"kpDIV", TerminalKey::KeypadDivide},
    {"kpZRO", TerminalKey::Keypad0},       {"kpDOT", TerminalKey::KeypadDecimal},
    {"ka2", TerminalKey::Keypad8},         {"kb1", TerminalKey::Keypad4},
    {"kb3", TerminalKey::Keypad6},         {"kc2", TerminalKey::Keypad2},
};
const unsigned ExtendedKeyCount = sizeof ExtendedKeys / sizeof ExtendedKeys[0];
int extendedCodes[ExtendedKeyCount];  // 0: this terminal has no such key

// What many terminals send whatever their description says: Home and End as
// on a console, and the keypad in application mode. Sequences the
// description leaves out get codes of their own.
const struct {
    const char* sequence;
    int code;  // a curses code, or 0 for a code of our own
    TerminalKey key;
} CommonSequences[] = {
    {"\033[1~", KEY_HOME, TerminalKey::Home},   {"\033[4~", KEY_END, TerminalKey::End},
    {"\033Op", 0, TerminalKey::Keypad0},        {"\033Oq", 0, TerminalKey::Keypad1},
    {"\033Or", 0, TerminalKey::Keypad2},        {"\033Os", 0, TerminalKey::Keypad3},
    {"\033Ot", 0, TerminalKey::Keypad4},        {"\033Ou", 0, TerminalKey::Keypad5},
    {"\033Ov", 0, TerminalKey::Keypad6},        {"\033Ow", 0, TerminalKey::Keypad7},
    {"\033Ox", 0, TerminalKey::Keypad8},        {"\033Oy", 0, TerminalKey::Keypad9},
    {"\033On", 0, TerminalKey::KeypadDecimal},  {"\033Ok", 0, TerminalKey::KeypadAdd},
    {"\033Om", 0, TerminalKey::KeypadSubtract}, {"\033Oj", 0, TerminalKey::KeypadMultiply},
    {"\033Oo", 0, TerminalKey::KeypadDivide},   {"\033OM", KEY_ENTER, TerminalKey::Count},
};
const unsigned CommonCount = sizeof CommonSequences / sizeof CommonSequences[0];
const int OwnCodeBase = KEY_MAX + 1;

TranslatedKey Byte(uint8_t byte) { return {KeyAction::Byte, byte, TerminalKey::Count, false}; }
TranslatedKey Sequence(TerminalKey key, bool shifted) { return {KeyAction::Sequence, 0, key, shifted}; }

}  // namespace

TranslatedKey TranslateKey(int code, bool isKeyCode) {
    if (!isKeyCode) {
        // Terminals send DEL or ^H for Backspace; the host gets 0x08 either way.
        if (code == 127 || code == 8) return Byte(8);
        if (code < 0 || code > 0xFF) return {KeyAction::Ignore, 0, TerminalKey::Count, false};
        return Byte(uint8_t(code));
    }
    if (code == KEY_BACKSPACE) return Byte(8);
    if (code == KEY_ENTER) return Byte(13);
    for (const KeyCodeEntry& entry : FixedKeys) {
        if (entry.code == code) return Sequence(entry.key, entry.shifted);
    }
    for (unsigned i = 0; i < ExtendedKeyCount; ++i) {
        if (extendedCodes[i] != 0 && extendedCodes[i] == code) return Sequence(ExtendedKeys[i].key, false);
    }
    if (code >= OwnCodeBase && code < OwnCodeBase + int(CommonCount)) {
        return Sequence(CommonSequences[code - OwnCodeBase].key, false);
    }
    return {KeyAction::Ignore, 0, TerminalKey::Count, false};
}

void LearnTerminalKeys() {
    for (unsigned i = 0; i < ExtendedKeyCount; ++i) {
        const char* text = tigetstr(ExtendedKeys[i].capability);
        int code = (text != nullptr && text != (char*)-1) ? key_defined(text) : 0;
        extendedCodes[i] = code > 0 ? code : 0;
    }
    for (unsigned i = 0; i < CommonCount; ++i) {
        if (key_defined(CommonSequences[i].sequence) != 0) continue;  // known, or a prefix of a known one
        int code = CommonSequences[i].code != 0 ? CommonSequences[i].code : OwnCodeBase + int(i);
        define_key(CommonSequences[i].sequence, code);
    }
}
