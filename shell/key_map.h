// The key map: which Windows virtual-key codes are the terminal's arrow,
// editing and numeric-keypad keys. What each key sends lives with the shared
// key sequences.
#ifndef BRISVANE_SHELL_KEY_MAP_H
#define BRISVANE_SHELL_KEY_MAP_H

#include <cstdint>

#include "link/key_sequences.h"

struct KeyMapEntry {
    uint32_t virtualKey;  // 0 ends the map
    TerminalKey key;
};

extern const KeyMapEntry KeyMap[26];  // 25 keys and the ending entry

// The key's entry, or null when the key is not in the map.
const KeyMapEntry* FindMappedKey(uint64_t virtualKey);

#endif
