// A display that draws nothing, so the benchmark measures the interpreter.
#include "core/screen.h"

void DrawRow(int) {}
void InvertCursorCell(int, int) {}
void RepaintAll() { terminal.cursorShown = false; }
