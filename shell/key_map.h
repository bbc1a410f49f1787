// The key map: arrow, editing and numeric-keypad keys, by virtual-key code,
// and the escape sequences they send, plain and with Shift held. Bytes are
// queued as listed; bit 7 is added when they are written.
#ifndef BRISVANE_SHELL_KEY_MAP_H
#define BRISVANE_SHELL_KEY_MAP_H

#include <cstdint>

struct KeyMapEntry {
    uint32_t virtualKey;  // 0 ends the map
    uint8_t plain[3];     // ended by a zero byte when shorter than three
    uint8_t shifted[3];
};

extern const KeyMapEntry KeyMap[26];  // 25 keys and the ending entry

// The key's entry, or null when the key is not in the map.
const KeyMapEntry* FindMappedKey(uint64_t virtualKey);

// A mapped key was pressed. Queues its sequence when the queue is empty and
// no file is being sent; otherwise the key is swallowed. `shiftHeld` is only
// asked for when the sequence is queued.
void QueueMappedKey(const KeyMapEntry& entry, bool (*shiftHeld)());

// A character message: queued as one byte when the queue is free.
void QueueTypedCharacter(uint8_t character);

#endif
