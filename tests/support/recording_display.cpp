#include "tests/support/recording_display.h"

#include <cstring>

#include "core/output_queue.h"

RecordingDisplay display;

void RecordingDisplay::Clear() {
    std::memset(inverted, 0, sizeof inverted);
    invertedCount = 0;
    ForgetLog();
}

void RecordingDisplay::ForgetLog() {
    log.clear();
    inversions = 0;
    repaints = 0;
}

int RecordingDisplay::InvertedCellCount() const {
    int n = 0;
    for (auto& row : inverted)
        for (bool cell : row) n += cell;
    return n;
}

void DrawRow(int row) {
    for (bool& cell : display.inverted[row]) {
        display.invertedCount -= cell;
        cell = false;
    }
    if (display.logging) display.log.push_back("DrawRow " + std::to_string(row));
}

void InvertCursorCell(int row, int column) {
    bool& cell = display.inverted[row][column];
    cell = !cell;
    display.invertedCount += cell ? 1 : -1;
    ++display.inversions;
    if (display.logging)
        display.log.push_back("Invert " + std::to_string(row) + "," + std::to_string(column));
}

void RepaintAll() {
    std::memset(display.inverted, 0, sizeof display.inverted);
    display.invertedCount = 0;
    terminal.cursorShown = false;
    ++display.repaints;
    if (display.logging) display.log.push_back("RepaintAll");
}

void ResetAll() {
    ResetScreen();
    terminal.pendingRow = 0;
    outputQueue.count = 0;
    sendState = SendState::Idle;
    display.logging = true;
    display.Clear();
}
