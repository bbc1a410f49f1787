// Key sequences: what the arrow, editing and numeric-keypad keys send, plain
// and with Shift held, named by key rather than by any platform's key code.
// Each front end maps its own key codes to these names, so a key sends the
// same bytes whichever front end reads it. Bytes are queued as listed; bit 7
// is added when they are written.
#ifndef BRISVANE_LINK_KEY_SEQUENCES_H
#define BRISVANE_LINK_KEY_SEQUENCES_H

#include <cstdint>

// The keys stay in their groups.
// clang-format off
enum class TerminalKey : uint8_t {
    Up, Down, Right, Left,
    KeypadDivide, KeypadMultiply, KeypadSubtract,
    Keypad0, Keypad1, Keypad2, Keypad3, Keypad4,
    Keypad5, Keypad6, Keypad7, Keypad8, Keypad9,
    KeypadDecimal, KeypadAdd,
    Insert, Delete, Home, End, PageUp, PageDown,
    Count
};
// clang-format on

struct KeySequences {
    uint8_t plain[3];  // ended by a zero byte when shorter than three
    uint8_t shifted[3];
};

extern const KeySequences KeySequenceTable[unsigned(TerminalKey::Count)];

// The key's sequence: its bytes and their number (1..3).
unsigned KeySequence(TerminalKey key, bool shifted, const uint8_t** bytes);

// True when a key or character may be queued now: no file is being sent and
// nothing is waiting to be written.
bool KeyboardMayQueue();

// Queues the key's sequence when the keyboard may queue; otherwise the key is
// swallowed. `shiftHeld` is asked only when the sequence is queued.
void QueueKey(TerminalKey key, bool (*shiftHeld)());

// A typed character: queued as one byte when the keyboard may queue.
void QueueTypedCharacter(uint8_t character);

#endif
