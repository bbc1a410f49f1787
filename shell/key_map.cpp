#include "shell/key_map.h"

const KeyMapEntry KeyMap[26] = {
    {38, TerminalKey::Up},               // VK_UP
    {40, TerminalKey::Down},             // VK_DOWN
    {39, TerminalKey::Right},            // VK_RIGHT
    {37, TerminalKey::Left},             // VK_LEFT
    {111, TerminalKey::KeypadDivide},    // VK_DIVIDE
    {106, TerminalKey::KeypadMultiply},  // VK_MULTIPLY
    {109, TerminalKey::KeypadSubtract},  // VK_SUBTRACT
    {96, TerminalKey::Keypad0},          // VK_NUMPAD0
    {97, TerminalKey::Keypad1},
    {98, TerminalKey::Keypad2},
    {99, TerminalKey::Keypad3},
    {100, TerminalKey::Keypad4},
    {101, TerminalKey::Keypad5},
    {102, TerminalKey::Keypad6},
    {103, TerminalKey::Keypad7},
    {104, TerminalKey::Keypad8},
    {105, TerminalKey::Keypad9},        // VK_NUMPAD9
    {110, TerminalKey::KeypadDecimal},  // VK_DECIMAL
    {107, TerminalKey::KeypadAdd},      // VK_ADD
    {45, TerminalKey::Insert},          // VK_INSERT
    {46, TerminalKey::Delete},          // VK_DELETE
    {36, TerminalKey::Home},            // VK_HOME
    {35, TerminalKey::End},             // VK_END
    {33, TerminalKey::PageUp},          // VK_PRIOR
    {34, TerminalKey::PageDown},        // VK_NEXT
    {0, TerminalKey::Count},
};

const KeyMapEntry* FindMappedKey(uint64_t virtualKey) {
    for (const KeyMapEntry* entry = KeyMap; entry->virtualKey != 0; ++entry) {
        if (entry->virtualKey == virtualKey) return entry;
    }
    return nullptr;
}
