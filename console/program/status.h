// The status line's text: a pure function of the console's state and what
// runs (given, so tests need no process-wide state). First what is being
// asked (the menu, a prompt, the overwrite question), else the history
// view's position, else the lines (with several: the one shown and the
// others' flags), the message, then what runs (a lost line, a send, a
// paste, a capture, bytes waiting, a log, the share's clients, a script, ANSI
// sequences hidden, the hex view, local echo), then the line (device,
// settings, flow control, 7-bit) and the menu key. News comes first, so a
// narrow terminal cuts the device's name, not the news.
#ifndef BRISVANE_CONSOLE_STATUS_H
#define BRISVANE_CONSOLE_STATUS_H

#include <cstdint>

#include "console/program/session.h"

// Writes the text (cut to `capacity`; the display cuts it to `width`) and
// returns the cursor's column on the status line while the user types
// there, else -1.
struct StatusFrame {
    TransferModes modes;
    int width;
    bool unicode;       // the terminal draws an ellipsis
    const char* lines;  // the lines' part (empty or null with one line)
};
int ComposeStatus(const Session& line, const StatusFrame& frame, char* text, unsigned capacity);

#endif
