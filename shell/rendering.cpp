// Drawing the screen model: the display operations the core calls, and the
// paint handler. Each operation takes and releases its own device context.
#include "core/screen.h"
#include "shell/window.h"

static const COLORREF TextColour = RGB(255, 255, 255);
static const COLORREF BackgroundColour = RGB(0, 0, 0);

static void DrawRowOn(HDC dc, int row) {
    TextOutW(dc, 0, row * lineHeight, reinterpret_cast<const WCHAR*>(&screen.cells[row * ScreenColumns]),
             ScreenColumns);
}

static void PrepareText(HDC dc) {
    SetTextColor(dc, TextColour);
    SetBkColor(dc, BackgroundColour);  // opaque: the strip is overwritten whole
    SelectObject(dc, terminalFont);
}

void DrawRow(int row) {
    if (mainWindow == NULL) return;
    HDC dc = GetDC(mainWindow);
    PrepareText(dc);
    DrawRowOn(dc, row);
    ReleaseDC(mainWindow, dc);
}

void InvertCursorCell(int row, int column) {
    if (mainWindow == NULL) return;
    RECT cell;
    cell.left = column * cellWidth;
    cell.top = row * lineHeight;
    // Edges are exclusive: the block is a pixel narrower and shorter than the cell.
    cell.right = cell.left + cellWidth - 1;
    cell.bottom = cell.top + lineHeight - 1;
    HDC dc = GetDC(mainWindow);
    InvertRect(dc, &cell);
    ReleaseDC(mainWindow, dc);
}

void RepaintAll() {
    if (mainWindow != NULL) {
        InvalidateRect(mainWindow, NULL, TRUE);
        UpdateWindow(mainWindow);
    }
    // Also when no paint ran (no window yet, or minimised): nothing is inverted.
    terminal.cursorShown = false;
}

void OnPaint(HWND window) {
    // The update region may miss the cursor cell; un-invert it first so the
    // flag below stays true to the screen.
    HideCursor();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PrepareText(dc);
    for (int row = 0; row < ScreenRows; ++row) DrawRowOn(dc, row);
    EndPaint(window, &paint);
    terminal.cursorShown = false;
}
