// One place received bytes go. The receive chain (receive.h) hands each
// sink the bytes of its stage once, in order: raw sinks the bytes as they
// came, text sinks what the received maps and the ANSI filter left.
//
// A sink never waits. What it cannot pass on at once it keeps in a backlog
// of its own, bounded: Room says how much more it keeps, and the loop reads
// the line only while every sink has room for what a read can bring, so a
// full sink holds the line (its buffer, flow control, TCP) and loses
// nothing. A sink that would rather drop or count (a share client that
// does not keep up, a log whose disk is full) keeps the default: no limit.
//
// Adding a place for received bytes (an attached client, a browser page) is
// one more sink and one AddSink call: no new route through the loop.
#ifndef BRISVANE_CONSOLE_SINK_H
#define BRISVANE_CONSOLE_SINK_H

#include <climits>
#include <cstdint>
#include <ctime>

enum class SinkStage : uint8_t {
    Raw,   // as received: before the maps and the ANSI filter
    Text,  // after them, as the screen gets it (bit 7 still as received)
};

const unsigned SinkNoLimit = UINT_MAX;

class ReceiveSink {
public:
    virtual ~ReceiveSink() = default;
    // Bytes at this sink's stage, received at `arrived` (wall-clock time).
    // Never more than Room() said.
    virtual void Take(const uint8_t* bytes, unsigned count, const struct timespec& arrived) = 0;
    // How many more bytes it keeps now.
    virtual unsigned Room() const { return SinkNoLimit; }
};

#endif
