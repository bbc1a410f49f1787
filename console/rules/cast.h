// A screen as an asciicast (version 2), the format terminal players and web
// players read: a JSON header line, then one JSON array a line,
// [seconds, "o", text] for what the terminal printed and [seconds, "m",
// label] for a marker. The frames are drawn with ordinary xterm sequences
// (cursor address, the row's text, erase to its end), so any player shows
// the screen as brisvane showed it. Pure: strings in, strings out.
#ifndef BRISVANE_CONSOLE_CAST_H
#define BRISVANE_CONSOLE_CAST_H

#include <string>

#include "core/screen.h"

// {"version": 2, "width": 80, "height": 24, "timestamp": ...}
std::string CastHeader(long long timestamp);
// One event line; `text` is UTF-8, escaped here as JSON wants it.
std::string CastLine(double seconds, const char* code, const std::string& text);
// What an xterm needs to go from `before` to `after` (every row when
// `before` is null, after clearing): each changed row drawn whole, then the
// cursor at `row`, `column`. Empty when nothing changed and the cursor stayed.
std::string CastFrame(const Cell* before, const Cell* after, int row, int column, bool cursorMoved);

#endif
