// The core's process-wide records (the screen, the interpreter's state, the
// output queue, the transfer rules' files and modes) for one line of several.
// The core keeps one of each, so a program of several lines keeps each
// line's copy here and swaps it with the core's when that line becomes the
// one worked on: a few kilobytes, only when the line changes. With one line
// nothing is ever swapped.
#ifndef BRISVANE_CONSOLE_CORE_RECORDS_H
#define BRISVANE_CONSOLE_CORE_RECORDS_H

#include <cstdint>

#include "core/output_queue.h"
#include "core/screen.h"
#include "link/file_io_posix.h"
#include "link/transfer.h"

struct CoreRecords {
    ScreenBuffer screen;
    TerminalState terminal;
    OutputQueue queue;
    SendState sendState;
    FileHandle sendFile;
    FileHandle captureFile;
    ReceiveMode receiveMode;
    uint32_t characterInterval;
    FileBuffers* buffers;  // owned: the send file's and the capture file's
};

// A fresh line's records: a blank screen, nothing sent or captured, its own
// file buffers. False when there is no memory for them.
bool MakeCoreRecords(CoreRecords* records);
void FreeCoreRecords(CoreRecords* records);
// Exchanges `records` with the core's own (the file buffers too).
void SwapCoreRecords(CoreRecords* records);
// At the end: the buffers a line's swap left with the core are freed, and
// the core uses its own again.
void ReleaseCoreBuffers();

#endif
