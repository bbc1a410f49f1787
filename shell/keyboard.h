// Keyboard messages: mapped keys send their sequences, everything else goes
// out as the character the platform translates it to.
#ifndef BRISVANE_SHELL_KEYBOARD_H
#define BRISVANE_SHELL_KEYBOARD_H

#include <windows.h>

// WM_KEYDOWN: 0 for a key in the map (queued or swallowed), else the
// default window procedure's result.
LRESULT OnKeyDown(HWND window, WPARAM virtualKey, LPARAM keyData);
// WM_CHAR: queues the character's low byte when the queue is free. A mapped
// key's own character finds the queue busy with its sequence and is dropped.
void OnChar(WPARAM character);

#endif
