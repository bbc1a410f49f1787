// Coverage-guided search for a byte stream that breaks the screen model.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/interpreter.h"
#include "core/output_queue.h"
#include "tests/support/recording_display.h"

static bool Drawable(Cell cell) {
    return (cell >= 0x20 && cell <= 0x7E) || cell == 0x2588 || cell == 0x2192 || cell == 0x2026 ||
           cell == 0x2193;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetAll();
    display.logging = false;
    for (size_t i = 0; i < size; ++i) {
        InterpretByte(data[i] & 0x7F);
        if (terminal.row < 0 || terminal.row > 23 || terminal.column < 0 || terminal.column > 79)
            std::abort();
        if (terminal.cursorShown != display.inverted[terminal.row][terminal.column]) std::abort();
        if (display.invertedCount != (terminal.cursorShown ? 1 : 0)) std::abort();
        if (data[i] & 0x80) outputQueue.count = 0;  // the high bit doubles as "a write completed"
        if (!terminal.cursorShown && (data[i] & 0x80)) ShowCursor();
    }
    for (Cell cell : screen.cells)
        if (!Drawable(cell)) std::abort();
    return 0;
}
