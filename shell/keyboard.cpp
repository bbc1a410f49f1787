#include "shell/keyboard.h"

#include "shell/key_map.h"

static bool ShiftHeld() { return GetKeyState(VK_SHIFT) < 0; }

LRESULT OnKeyDown(HWND window, WPARAM virtualKey, LPARAM keyData) {
    const KeyMapEntry* entry = FindMappedKey(virtualKey);
    if (entry == nullptr) return DefWindowProcA(window, WM_KEYDOWN, virtualKey, keyData);
    QueueKey(entry->key, ShiftHeld);
    return 0;
}

void OnChar(WPARAM character) { QueueTypedCharacter(uint8_t(character & 0xFF)); }
