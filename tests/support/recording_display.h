// A display for tests: logs every display call in order and keeps a shadow
// of which cells are inverted on the "screen", so a test can check that
// cursorShown tells the truth.
#ifndef BRISVANE_TESTS_RECORDING_DISPLAY_H
#define BRISVANE_TESTS_RECORDING_DISPLAY_H

#include <string>
#include <vector>

#include "core/screen.h"

struct RecordingDisplay {
    std::vector<std::string> log;  // "DrawRow 5", "Invert 5,10", "RepaintAll"
    bool logging = true;           // the stress test turns the log off
    bool inverted[ScreenRows][ScreenColumns] = {};
    int invertedCount = 0;  // cells inverted right now
    long inversions = 0;
    long repaints = 0;

    void Clear();      // forget everything: nothing inverted, empty log
    void ForgetLog();  // empty log and counters; the screen stays as it is
    int InvertedCellCount() const;
};

extern RecordingDisplay display;

// Resets the screen, the output queue, the transfer states and the display.
void ResetAll();

#endif
