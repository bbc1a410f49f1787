// A session's recording, as bytes: what each line received and sent and
// what was done to it, every event with a monotonic time in microseconds,
// so a replay through the terminal shows exactly what the live session did.
// Pure: encodes into and decodes from memory; the files are the recorder's.
//
// The format, version 1. A text header, one field a line, ended by an empty
// line:
//     brisvane recording 1
//     program brisvane 2.4
//     started 2026-12-08T10:49:57.123456Z     the wall clock at time 0
//     line LABEL SETTINGS DEVICE              one a line, in order: index 0, 1...
//     receive MAPS ANSI BIT7                  how the live session drew (see RecordingHeader)
//     drawn INDEX MAPS ANSI BIT7              how a later line drew, where it differs
// A reader skips header fields it does not know, so later versions may add
// some; a version it does not know is refused. Then the events, each
//     kind (1 byte) line (1 byte) delta (varint: µs since the previous event)
//     length (varint) check (1 byte) payload (length bytes)
// where check is the sum of the bytes before it, xor 0xa5: a torn or
// misframed event is found where it starts. A reader stops at the first
// event that is torn (a crash's last one), fails its check or names a line
// the header lacks, and says where; every event before it stands.
#ifndef BRISVANE_CONSOLE_RECORDING_H
#define BRISVANE_CONSOLE_RECORDING_H

#include <cstdint>

const unsigned RecordingVersion = 1;
const unsigned RecordingMaxLines = 9;
const unsigned RecordingMaxPayload = 1u << 20;
const unsigned RecordingEventHeaderMax = 1 + 1 + 10 + 5 + 1;
const unsigned RecordingLabelCapacity = 32;
const unsigned RecordingFieldCapacity = 256;

enum class RecordKind : uint8_t {
    Received = 1,  // the line's bytes as they came
    Sent = 2,      // bytes for the line: first byte a RecordSource, then the bytes
    Control = 3,   // a RecordControl byte, then its value byte
    Modem = 4,     // 1 byte: the modem inputs, when they moved (CTS 0x10, DSR 0x20, RI 0x40, DCD 0x80)
    Settings = 5,  // text: "115200,n,8,1" and flow
    Down = 6,      // text: why the line went away
    Up = 7,        // the line is back (or open at last)
    Mark = 8,      // text: a mark's name
    Errors = 9,    // text: the driver's counts, when they moved: "framing 0 overrun 2 parity 0 break 1"
    Role = 10,     // text: who took or gave the line on a served line
    // The screen and the receive chain's state after the events before it:
    // 8 bytes of the history's row count then (big-endian), then the served
    // line's snapshot messages (screen, chain, an empty history). A replay
    // starts from the last one before a time instead of from the start.
    Snapshot = 11,
};

enum class RecordSource : uint8_t { Key = 1, Paste, TextSend, Script, Transfer, Client, Page, Answer, Other };

enum class RecordControl : uint8_t { Break = 1, Dtr = 2, Rts = 3 };

struct RecordingHeader {
    unsigned version;
    char program[64];
    char started[64];
    unsigned lines;
    struct Line {
        char label[RecordingLabelCapacity];
        char settings[64];
        char device[RecordingFieldCapacity];
        // Its own drawing (a later line's, as `receive` is the first's),
        // written when `drawn`.
        bool drawn;
        uint8_t maps;
        bool ansiHidden, sevenBit;
    } line[RecordingMaxLines];
    // How the live session drew: its received line-end maps (LineMap bits),
    // ANSI sequences hidden, bit 7 cleared on screen.
    uint8_t maps;
    bool ansiHidden;
    bool sevenBit;
};

// The index of the line labelled `label` (the first line for an empty
// one), or -1 when the header names no such line.
int RecordingLineIndex(const RecordingHeader& header, const char* label);
// Makes line `index`'s drawing the header's (maps, ansiHidden, sevenBit),
// for a replay of that line.
void ShowRecordedLine(RecordingHeader* header, unsigned index);

// The header's text into `out` (capacity bytes); its length, 0 when it does
// not fit.
unsigned WriteRecordingHeader(const RecordingHeader& header, char* out, unsigned capacity);
// Reads a header from the start of `bytes`: its length (where the events
// start), or 0 with a one-line `problem` (not a recording, a version this
// program does not know, a header cut short).
unsigned ReadRecordingHeader(const uint8_t* bytes, unsigned long long size, RecordingHeader* header,
                             const char** problem);

// An event's framing into `out` (RecordingEventHeaderMax bytes); its length.
// The payload follows it as it is.
unsigned EncodeEvent(uint8_t* out, RecordKind kind, uint8_t line, uint64_t delta, unsigned length);

struct RecordEvent {
    RecordKind kind;
    uint8_t line;
    uint64_t time;  // µs since time 0
    const uint8_t* payload;
    unsigned length;
};

enum class EventRead : uint8_t { Event, End, Torn, Broken };

// The event at `*offset` of `bytes` (size bytes in all); on Event, *offset
// moves past it and `*time` (the previous event's) becomes this one's.
// End: no bytes left; Torn: an event cut short by the end; Broken: its
// framing fails (a check, a length past the limit, a line of `lines` or more).
EventRead ReadEvent(const uint8_t* bytes, unsigned long long size, unsigned long long* offset, unsigned lines,
                    uint64_t* time, RecordEvent* event);

#endif
