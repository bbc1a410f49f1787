#include "shell/key_map.h"

#include "link/output_queue.h"

enum : uint8_t { Esc = 27, Del = 127 };

const KeyMapEntry KeyMap[26] = {
    {38, {Esc, '?', 't'}, {Esc, 'P'}},       // VK_UP
    {40, {Esc, '?', 'p'}, {Esc, 'R'}},       // VK_DOWN
    {39, {Esc, 'C'}, {Esc, 'C'}},            // VK_RIGHT
    {37, {Esc, 'D'}, {Esc, 'D'}},            // VK_LEFT
    {111, {Esc, 'P'}, {Esc, 'P'}},           // VK_DIVIDE
    {106, {Esc, 'Q'}, {Esc, 'Q'}},           // VK_MULTIPLY
    {109, {Esc, 'R'}, {Esc, 'R'}},           // VK_SUBTRACT
    {96, {Esc, '?', 'p'}, {Esc, '?', 'p'}},  // VK_NUMPAD0
    {97, {Esc, '?', 'q'}, {Esc, '?', 'q'}},  // VK_NUMPAD1
    {98, {Esc, '?', 'r'}, {Esc, '?', 'r'}},  // VK_NUMPAD2
    {99, {Esc, '?', 's'}, {Esc, '?', 's'}},  // VK_NUMPAD3
    {100, {Esc, '?', 't'}, {Esc, '?', 't'}}, // VK_NUMPAD4
    {101, {Esc, '?', 'u'}, {Esc, '?', 'u'}}, // VK_NUMPAD5
    {102, {Esc, '?', 'v'}, {Esc, '?', 'v'}}, // VK_NUMPAD6
    {103, {Esc, '?', 'w'}, {Esc, '?', 'w'}}, // VK_NUMPAD7
    {104, {Esc, '?', 'x'}, {Esc, '?', 'x'}}, // VK_NUMPAD8
    {105, {Esc, '?', 'y'}, {Esc, '?', 'y'}}, // VK_NUMPAD9
    {110, {Esc, '?', 'n'}, {Esc, '?', 'n'}}, // VK_DECIMAL
    {107, {Esc, '?', 'M'}, {Esc, '?', 'M'}}, // VK_ADD
    {45, {Esc, '?', 'w'}, {Esc, '?', 'y'}},  // VK_INSERT
    {46, {Del}, {Esc, '?', 'u'}},            // VK_DELETE
    {36, {Esc, '?', 's'}, {Esc, '?', 'q'}},  // VK_HOME
    {35, {Esc, '?', 'v'}, {Esc, '?', 'r'}},  // VK_END
    {33, {Esc, 'Q'}, {Esc, '?', 'M'}},       // VK_PRIOR (Page Up)
    {34, {Esc, '?', 'x'}, {Esc, '?', 'n'}},  // VK_NEXT (Page Down)
    {0, {0}, {0}},
};

const KeyMapEntry* FindMappedKey(uint64_t virtualKey) {
    for (const KeyMapEntry* entry = KeyMap; entry->virtualKey != 0; ++entry) {
        if (entry->virtualKey == virtualKey) return entry;
    }
    return nullptr;
}

static bool QueueIsFree() { return sendState == SendState::Idle && outputQueue.IsEmpty(); }

void QueueMappedKey(const KeyMapEntry& entry, bool (*shiftHeld)()) {
    if (!QueueIsFree()) return;
    const uint8_t* sequence = shiftHeld() ? entry.shifted : entry.plain;
    unsigned length = 0;
    while (length < 3 && sequence[length] != 0) ++length;
    outputQueue.Fill(sequence, length);
}

void QueueTypedCharacter(uint8_t character) {
    if (QueueIsFree()) outputQueue.Fill(&character, 1);
}
