// The Unix program's receive chain: each received block passes once, in
// this order, through
//   1. the raw sinks (raw log, raw capture, share clients, batch --raw);
//   2. the received line-end maps;
//   3. the one ANSI filter, which takes out the sequences it hides;
//   4. the text sinks (text log, text capture, batch output);
//   5. the screen: the interpreter, or the hex view of the received bytes.
// A raw capture takes the bytes untouched and nothing is shown (the text log
// still takes them). A line feed on the bottom row scrolls the top row away:
// it goes into the history first. An identify reply the interpreter queues
// goes to the output pump at once, so every request in a block is answered
// (unless the screen stage does not answer: see ScreenStage).
// A running script's ring gets the text as the interpreter takes it (it
// needs the interpreter's escape state, so it sits with the screen).
//
// Local echo enters the chain at its own mark, just before the screen: what
// is sent goes through the echo maps (a CR also feeds a line, as a host's
// echo does) or into the hex rows; logs and captures keep only what came.
//
// Sinks are added once, at start-up (the front end adds its own); the chain
// tells the loop how much it may read now (ReadAllowance).
#ifndef BRISVANE_CONSOLE_RECEIVE_H
#define BRISVANE_CONSOLE_RECEIVE_H

#include <cstdint>
#include <ctime>

#include "console/rules/ansi_filter.h"
#include "console/rules/counters.h"
#include "console/rules/hex_view.h"
#include "console/rules/history.h"
#include "console/rules/line_maps.h"
#include "console/rules/output_pump.h"
#include "console/rules/script_text.h"
#include "console/rules/sink.h"
#include "console/rules/text_rules.h"

// Blocks larger than this are taken a part at a time.
const unsigned MapBlockSize = 16384;
const unsigned ChainSinkCapacity = 8;  // per stage

// How what arrives is shown, with the state its rules carry across blocks.
struct ReceiveStyle {
    uint8_t maps = 0;  // LineMap bits
    bool hex = false;
    bool echo = false;
    ReceivedMap map, echoMap;
    HexDump dump;
    uint8_t mapped[2 * MapBlockSize];
    uint8_t shown[2 * MapBlockSize + AnsiFilterSlack];  // after the ANSI filter
};

// The chain's end: the screen and what it answers.
struct ScreenStage {
    History& history;
    OutputPump& pump;        // identify replies
    const bool& sevenBit;    // the replies' bit 7, as set now
    Counters& counters;      // a reply with no room is counted as dropped
    ScriptText& scriptText;  // fed while it listens (a script runs)
    // False on a served line's client: the server's own screen answers the
    // host, and a second reply would reach the line after it.
    bool answers = true;
};

struct ReceiveChain {
    ReceiveStyle& style;
    AnsiFilter& ansi;
    ScreenStage screen;
    ReceiveSink* raw[ChainSinkCapacity] = {};
    unsigned rawCount = 0;
    ReceiveSink* text[ChainSinkCapacity] = {};
    unsigned textCount = 0;
};

// Adds `sink` after those of its stage; false when the stage is full.
bool AddSink(ReceiveChain& chain, SinkStage stage, ReceiveSink& sink);

// How many bytes a read may bring now (at most `wanted`) so that every sink
// has room for them at its stage: a text sink may get twice as many (the
// maps) and what the ANSI filter held. 0: the line must wait.
unsigned ReadAllowance(const ReceiveChain& chain, unsigned wanted);

// A block received at `arrived`, through the whole chain.
void ReceiveBlock(ReceiveChain& chain, const uint8_t* bytes, unsigned count, const struct timespec& arrived);

// Bytes being sent, under local echo: at the echo mark, for the screen only.
void EchoSent(ReceiveChain& chain, const uint8_t* bytes, unsigned count);

// Turns the hex view on or off: each starts on a fresh row.
void SetHexView(ReceiveChain& chain, bool on);

#endif
