// The transfer rules' file operations for the Unix front end: the send file
// is read and the capture file written through buffers, so a transfer costs
// a system call per block, not per byte. The loop flushes the capture file
// after each block it receives, so what arrived is on disk before the next
// wait; closing flushes too.
#ifndef BRISVANE_CONSOLE_FILES_H
#define BRISVANE_CONSOLE_FILES_H

#include "link/file_io.h"

// Writes out what waits in the write buffer. Returns 0, or the errno of a
// write that failed (the bytes are then dropped, and the error is kept
// until asked for again).
int FlushFileBuffers();

#endif
