// Batch mode's records: standard output as a sink of the receive chain,
// with a bounded backlog the loop writes out when standard output is
// writable, and the run's own state (input ended, the linger, the timeout).
// The program's batch module (batch.h) drives them.
#ifndef BRISVANE_CONSOLE_BATCH_OUTPUT_H
#define BRISVANE_CONSOLE_BATCH_OUTPUT_H

#include <cstdint>

#include "console/rules/schedule.h"
#include "console/rules/share_buffer.h"
#include "console/rules/sink.h"

const int TimedOutExitCode = 124;
const unsigned BatchBacklog = 1u << 20;

// What waits for standard output.
class BatchOutput : public ReceiveSink {
public:
    // Takes the backlog's room; false when there is no memory.
    bool Allocate(unsigned capacity);
    // At the text stage bit 7 is cleared; at the raw stage bytes stay as they came.
    void Take(const uint8_t* bytes, unsigned count, const struct timespec& arrived) override;
    unsigned Room() const override { return capacity_ - backlog_.Used(); }
    bool Waiting() const { return !backlog_.Empty(); }
    // Writes what `fd` takes without waiting; false when nobody reads it any more.
    bool WriteTo(int fd);

    bool raw = false;

private:
    ShareBuffer backlog_;
    unsigned capacity_ = 0;
};

struct Batch {
    bool on = false;
    bool inputEnded = false;
    // A replay for browser pages without a terminal: they are its output,
    // standard input is not read, and the run ends at a signal or --timeout.
    bool pagesOnly = false;
    int64_t endsAt = NoDeadline;     // the linger after the end of input
    int64_t timeoutAt = NoDeadline;  // --timeout
    bool timedOut = false;           // said on stderr once the screen is given back
    bool cutShort = false;           // a signal, the timeout or a gone reader: nothing more is written
    BatchOutput output;
};

#endif
