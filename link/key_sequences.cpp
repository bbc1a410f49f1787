#include "link/key_sequences.h"

#include "core/output_queue.h"

enum : uint8_t { Esc = 27, Del = 127 };

const KeySequences KeySequenceTable[unsigned(TerminalKey::Count)] = {
    {{Esc, '?', 't'}, {Esc, 'P'}},       // Up
    {{Esc, '?', 'p'}, {Esc, 'R'}},       // Down
    {{Esc, 'C'}, {Esc, 'C'}},            // Right
    {{Esc, 'D'}, {Esc, 'D'}},            // Left
    {{Esc, 'P'}, {Esc, 'P'}},            // keypad /
    {{Esc, 'Q'}, {Esc, 'Q'}},            // keypad *
    {{Esc, 'R'}, {Esc, 'R'}},            // keypad -
    {{Esc, '?', 'p'}, {Esc, '?', 'p'}},  // keypad 0
    {{Esc, '?', 'q'}, {Esc, '?', 'q'}},  // keypad 1
    {{Esc, '?', 'r'}, {Esc, '?', 'r'}},  // keypad 2
    {{Esc, '?', 's'}, {Esc, '?', 's'}},  // keypad 3
    {{Esc, '?', 't'}, {Esc, '?', 't'}},  // keypad 4
    {{Esc, '?', 'u'}, {Esc, '?', 'u'}},  // keypad 5
    {{Esc, '?', 'v'}, {Esc, '?', 'v'}},  // keypad 6
    {{Esc, '?', 'w'}, {Esc, '?', 'w'}},  // keypad 7
    {{Esc, '?', 'x'}, {Esc, '?', 'x'}},  // keypad 8
    {{Esc, '?', 'y'}, {Esc, '?', 'y'}},  // keypad 9
    {{Esc, '?', 'n'}, {Esc, '?', 'n'}},  // keypad .
    {{Esc, '?', 'M'}, {Esc, '?', 'M'}},  // keypad +
    {{Esc, '?', 'w'}, {Esc, '?', 'y'}},  // Insert
    {{Del}, {Esc, '?', 'u'}},            // Delete
    {{Esc, '?', 's'}, {Esc, '?', 'q'}},  // Home
    {{Esc, '?', 'v'}, {Esc, '?', 'r'}},  // End
    {{Esc, 'Q'}, {Esc, '?', 'M'}},       // Page Up
    {{Esc, '?', 'x'}, {Esc, '?', 'n'}},  // Page Down
};

unsigned KeySequence(TerminalKey key, bool shifted, const uint8_t** bytes) {
    const KeySequences& entry = KeySequenceTable[unsigned(key) % unsigned(TerminalKey::Count)];
    const uint8_t* sequence = shifted ? entry.shifted : entry.plain;
    unsigned length = 0;
    while (length < 3 && sequence[length] != 0) ++length;
    *bytes = sequence;
    return length;
}

bool KeyboardMayQueue() { return sendState == SendState::Idle && outputQueue.IsEmpty(); }

void QueueKey(TerminalKey key, bool (*shiftHeld)()) {
    if (!KeyboardMayQueue()) return;
    const uint8_t* sequence;
    unsigned length = KeySequence(key, shiftHeld(), &sequence);
    outputQueue.Fill(sequence, length);
}

void QueueTypedCharacter(uint8_t character) {
    if (KeyboardMayQueue()) outputQueue.Fill(&character, 1);
}
