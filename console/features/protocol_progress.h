// What a protocol command (sx, sb, sz, rx, rb, rz) says on its stderr, read
// into the progress the status line shows: the file, bytes moved, the total
// when known, retries, and the last thing it said that was not progress.
// Its lines end with CR (progress redrawn in place) or LF; text arrives in
// pieces, so a reader keeps the partial line. Pure, no allocation; a line
// longer than the reader keeps is cut, never overrun.
#ifndef BRISVANE_CONSOLE_PROTOCOL_PROGRESS_H
#define BRISVANE_CONSOLE_PROTOCOL_PROGRESS_H

#include <cstdint>

const unsigned ProgressNameCapacity = 64;
const unsigned ProgressMessageCapacity = 128;

struct ProtocolProgress {
    char file[ProgressNameCapacity];        // the last file named, without its folder
    uint64_t bytes;                         // moved so far in that file
    uint64_t total;                         // its size, 0 while unknown
    unsigned files;                         // files begun
    unsigned errors;                        // retries reported
    bool complete;                          // "Transfer complete" was said
    char message[ProgressMessageCapacity];  // the last other line
};

// One whole line, without its end.
void ReadProgressLine(ProtocolProgress& progress, const char* line);

// 0..100, or -1 without a total.
int ProgressPercent(const ProtocolProgress& progress);

class ProgressReader {
public:
    // Splits `count` bytes into lines and reads each one.
    void Take(ProtocolProgress& progress, const uint8_t* bytes, unsigned count);
    // The stream ended: a last line without an end is read too.
    void Finish(ProtocolProgress& progress);

private:
    char line_[256] = "";
    unsigned length_ = 0;
};

#endif
