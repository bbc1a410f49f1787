// Which lines --record's file holds, and what is looked at on them while it
// records. The first line's file holds every line that names no file of its
// own, each under its index, the header naming each (label, settings,
// device); each line's events then go to it (FeaturesPart::recording).
// The modem inputs and the driver's error counts are read every 100 ms of
// an open line while it records, and recorded when they moved: no work per
// received byte.
#ifndef BRISVANE_CONSOLE_RECORD_LINES_H
#define BRISVANE_CONSOLE_RECORD_LINES_H

#include <cstdint>
#include <memory>

#include "console/rules/reaction.h"

struct Session;

// Opens each --record file with its header. False with a one-line message;
// *usage when the file is one a recording may not be (a folder, a FIFO).
bool StartRecordings(std::unique_ptr<Session>* lines, unsigned count, const char* version, char* message,
                     unsigned capacity, bool* usage);

// The loop's timed work: when the line's inputs and counts are looked at
// next, and the look (ms clock).
int64_t RecordedLinesDue(const Session& console);
Reaction PollRecordedLines(Session& console, int64_t now);

#endif
