// The terminal window: class, creation, font and cell size, and the window
// procedure, which hands each message to one named handler. The display
// operations the screen model calls are in rendering.cpp.
#ifndef BRISVANE_SHELL_WINDOW_H
#define BRISVANE_SHELL_WINDOW_H

#include <windows.h>

extern HINSTANCE programInstance;
extern HWND mainWindow;     // NULL until created
extern HFONT terminalFont;  // deleted at shutdown
extern int lineHeight;      // pixels per row
extern int cellWidth;       // pixels per column

// Registers the "BRISVANE" class. Returns false on failure.
bool RegisterTerminalClass(HINSTANCE instance);
// Creates the (not yet visible) main window. Returns NULL on failure.
HWND CreateTerminalWindow(HINSTANCE instance, const char* title);
// Creates the font at the default font's line height (face "Courier New",
// or `fontFace` when not empty, cut to what the font record holds), derives
// the cell size, sizes the client area to 80 x 24 cells, shows and paints.
void SetUpFontAndShow(const char* fontFace, int showCommand);

// Paints all 24 rows; used by the window procedure for WM_PAINT.
void OnPaint(HWND window);

#endif
