#include "console/rules/keys.h"

unsigned KeyBytes(const TranslatedKey& key, uint8_t bytes[3]) {
    if (key.action == KeyAction::Byte) {
        bytes[0] = key.byte;
        return 1;
    }
    if (key.action != KeyAction::Sequence) return 0;
    const uint8_t* sequence;
    unsigned length = KeySequence(key.key, key.shifted, &sequence);
    for (unsigned i = 0; i < length; ++i) bytes[i] = sequence[i];
    return length;
}
