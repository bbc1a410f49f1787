// Small helpers for "push bytes, expect result" tests of the core.
#ifndef BRISVANE_TESTS_FEED_H
#define BRISVANE_TESTS_FEED_H

#include <initializer_list>
#include <string>

#include "core/interpreter.h"
#include "core/screen.h"
#include "tests/support/recording_display.h"

inline void Feed(const std::string& bytes) {
    for (unsigned char b : bytes) InterpretByte(b);
}

inline void FeedBytes(std::initializer_list<int> bytes) {
    for (int b : bytes) InterpretByte(uint8_t(b));
}

// ESC Y with the position already offset by 32.
inline std::string Address(int row, int column) {
    return std::string("\x1bY") + char(row + 32) + char(column + 32);
}

// The row as text, trailing blanks removed; cells outside ASCII show as '#'.
inline std::string RowText(int row) {
    std::string text;
    for (int c = 0; c < ScreenColumns; ++c) {
        Cell cell = screen.cells[row * ScreenColumns + c];
        text += cell < 128 ? char(cell) : '#';
    }
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

inline Cell CellAt(int row, int column) { return screen.cells[row * ScreenColumns + column]; }

// The display log since the last clear, as one line.
inline std::string Log() {
    std::string joined;
    for (const std::string& entry : display.log) {
        if (!joined.empty()) joined += " | ";
        joined += entry;
    }
    return joined;
}

#endif
