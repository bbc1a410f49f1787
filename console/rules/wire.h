// The messages between a served line and the programs attached to it.
//
// Every message is a four-byte header, then its payload: the type (one
// byte), then the payload's length (three bytes, most significant first).
// Numbers in payloads are unsigned, most significant byte first; a text is
// a one-byte length and that many bytes (no terminator). Each type has a
// limit on its payload's length, and each payload must parse exactly (no
// byte short, none over): anything else is an error for that connection
// alone, and the connection ends.
//
// The first message each way is the hello: the client's says the version it
// speaks, what it asks for (to write, to watch, to take the line), its name
// and, over TCP, its token; the server's answers with the role given, or a
// refusal with a one-line reason. Then the server sends the snapshot (the
// screen, the receive chain's state, then the history, oldest first, then
// the end of the history), and from then on data, roster and role messages
// as they come. A writer's
// bytes come as Typed (what its user typed: the served line's sent maps and
// bit-7 rule apply, the client applied none), TypedText (a text file's:
// the bit-7 rule alone, as for a text file sent on the line itself) or Data
// (a transfer's or a raw send's bytes: they go on the line exactly).
//
// Encoding writes into a caller's buffer and never allocates; decoding works
// on bytes as they arrive, in any pieces, from a buffer of a fixed size.
#ifndef BRISVANE_CONSOLE_WIRE_H
#define BRISVANE_CONSOLE_WIRE_H

#include <cstdint>

// 2: a client's typed bytes (Typed) apart from its exact ones (Data).
// 3: the snapshot carries the receive chain's state (Chain); a text file's
//    bytes (TypedText) apart from typing.
// 4: the served line's settings and presence (LineState), after the welcome
//    and whenever they change.
// 5: a roster entry says where the member is from and how long it has been
//    idle; a client asks for a fresh roster (Who).
// 6: the welcome says how many history rows the snapshot brings.
// 8: a roster holds up to 48 members (every kind's seats).
const uint16_t WireVersion = 8;
const unsigned WireHeaderSize = 4;
// The largest payload of any type: a screen snapshot (24 x 80 cells of two
// bytes, and the terminal's record) is the largest fixed one.
const unsigned WireMaxPayload = 16384;
const unsigned WireMaxMessage = WireHeaderSize + WireMaxPayload;
const unsigned WireTextCapacity = 256;  // a text's bytes and a terminator
const unsigned WireTokenCapacity = 128;
const unsigned WireRosterMax = 48;
const unsigned WireRosterTextMax = 63;  // a roster entry's texts are cut to this
// The screen: 24 x 80 cells of two bytes, then row, column, flags, escape
// state and the pending row byte.
const unsigned WireScreenPayload = 24 * 80 * 2 + 5;
// A history message carries at most this many rows; a row is its length in
// cells, then each cell: a byte below 0x80 is that cell, 0x80 and two bytes
// a wider one. So a row takes at most 241 bytes.
const unsigned WireHistoryRowsMax = 64;
const unsigned WireHistoryRowMax = 1 + 80 * 3;
// The receive chain between the line and the interpreter: flags (the line
// has 8 data bits, a CSI's intermediates began, the last byte mapped was a
// CR), the received line-end maps, the ANSI filter's stage and the escape
// state it follows, then the count of bytes it holds (below 256) and those
// bytes.
const unsigned WireChainPayloadMax = 5 + 255;

enum class WireType : uint8_t {
    Hello = 1,         // client -> server: version, asks, name, token
    Welcome = 2,       // server -> client: version, role, the client's number
    Refusal = 3,       // server -> client: why not; the server then closes
    Screen = 4,        // server -> client: the screen and the terminal record
    History = 5,       // server -> client: rows that scrolled off, oldest first
    HistoryEnd = 6,    // server -> client: the snapshot is complete
    Data = 7,          // both ways: the line's bytes / the writer's exact bytes
    Control = 8,       // client -> server: BREAK, DTR, RTS, settings
    Roster = 9,        // server -> client: who is attached
    Role = 10,         // server -> client: the client's role changed, and who did it
    Take = 11,         // client -> server: asks for the line
    Give = 12,         // client -> server: hands the line back
    Notice = 13,       // server -> client: one line for the status line
    ControlDone = 14,  // server -> client: a control's result
    Typed = 15,        // client -> server: the user's bytes, for the line's own byte rules
    Chain = 16,        // server -> client: the receive chain's state, after the screen
    TypedText = 17,    // client -> server: a text file's bytes, for the line's bit 7 (not its maps)
    LineState = 18,    // server -> client: the line's settings in force, whether it is there, who changed it
    Who = 19,          // client -> server: asks for the roster as it is now
};

enum class WireAsk : uint8_t { Write = 0, Watch = 1, Take = 2 };
enum class WireRole : uint8_t { Watching = 0, Writing = 1 };
enum class WireClientKind : uint8_t { Person = 0, Script = 1, Raw = 2, Browser = 3 };
// What a client was on the line before its connection dropped: a server
// that restarted keeps the line for the one who was writing.
enum class WirePast : uint8_t { Fresh = 0, Watched = 1, Wrote = 2 };

enum class WireControl : uint8_t {
    Break = 1,     // value unused
    Dtr = 2,       // value 0 off, 1 on
    Rts = 3,       // value 0 off, 1 on
    DtrPulse = 4,  // value unused
    Settings = 5,  // text: the line settings' notation, "115200,n,8,1"
};

// A message as decoded: its type and its payload, valid until the next call
// to the decoder.
struct WireMessage {
    WireType type;
    const uint8_t* payload;
    unsigned length;
};

struct WireText {
    uint8_t length;
    char text[WireTextCapacity];  // always terminated
};

struct WireHello {
    uint16_t version;
    WireAsk ask;
    WireClientKind kind;
    WireText name;  // the user's name as the client knows it (the server trusts SO_PEERCRED first)
    uint8_t tokenLength;
    uint8_t token[WireTokenCapacity];
    WirePast past;
};

struct WireWelcome {
    uint16_t version;
    WireRole role;
    uint16_t id;           // this client's number on the server, as the roster shows it
    uint64_t historyRows;  // the history rows the snapshot brings (at most)
};

struct WireRosterEntry {
    uint16_t id;
    WireRole role;
    WireClientKind kind;
    int64_t since;  // seconds since the epoch
    uint32_t idle;  // seconds since its last input (or its joining)
    WireText name;
    WireText from;  // where it is: "uid 1000", "127.0.0.1:40112", "web 10.0.0.2", ...
};

struct WireRoster {
    unsigned count;
    WireRosterEntry entry[WireRosterMax];
};

struct WireRoleChange {
    WireRole role;    // this client's role now
    uint16_t by;      // the client that caused it (0: the server itself)
    WireText byName;  // who took the line, when it was taken away
};

struct WireControlMessage {
    WireControl control;
    uint8_t value;
    WireText settings;  // for Settings only
};

// The served line as it is: its settings in force ("115200,n,8,1") and
// flow control, whether its device (or network line) is there, what it
// waits for while it is not, and who changed the settings last (0 and ""
// when this message tells of no change of settings).
struct WireLineState {
    bool open;
    bool hardwareFlow;
    uint16_t by;
    WireText settings;
    WireText awaiting;
    WireText byName;
};

// --- Encoding. Each returns the bytes written at `out`, or 0 when they do
// not fit in `capacity` (nothing is then written that counts). Texts longer
// than 255 bytes are cut.

unsigned PutHello(uint8_t* out, unsigned capacity, const WireHello& hello);
unsigned PutWelcome(uint8_t* out, unsigned capacity, const WireWelcome& welcome);
// Refusal and Notice: one line of text.
unsigned PutText(uint8_t* out, unsigned capacity, WireType type, const char* text);
// Data (or Typed, TypedText): at most WireMaxPayload bytes; more is a caller's fault
// and gives 0.
unsigned PutData(uint8_t* out, unsigned capacity, const uint8_t* bytes, unsigned count,
                 WireType type = WireType::Data);
unsigned PutControl(uint8_t* out, unsigned capacity, const WireControlMessage& control);
unsigned PutControlDone(uint8_t* out, unsigned capacity, WireControl control, uint8_t result);
unsigned PutRoster(uint8_t* out, unsigned capacity, const WireRoster& roster);
unsigned PutRoleChange(uint8_t* out, unsigned capacity, const WireRoleChange& change);
unsigned PutLineState(uint8_t* out, unsigned capacity, const WireLineState& state);
// A message with no payload: Take, Give, Who.
unsigned PutEmpty(uint8_t* out, unsigned capacity, WireType type);
// A header for `length` payload bytes the caller writes after it.
void PutHeader(uint8_t* out, WireType type, unsigned length);

// --- Decoding each payload. False when it does not parse exactly.

// A hello of another version reads as true with only `version` set: the
// caller refuses it by its version.
bool ReadHello(const WireMessage& message, WireHello* hello);
bool ReadWelcome(const WireMessage& message, WireWelcome* welcome);
bool ReadText(const WireMessage& message, WireText* text);
bool ReadControl(const WireMessage& message, WireControlMessage* control);
bool ReadControlDone(const WireMessage& message, WireControl* control, uint8_t* result);
bool ReadRoster(const WireMessage& message, WireRoster* roster);
bool ReadRoleChange(const WireMessage& message, WireRoleChange* change);
bool ReadLineState(const WireMessage& message, WireLineState* state);

enum class WireStatus : uint8_t {
    Message,   // *message holds one
    NeedMore,  // every byte given is taken; give more
    Error,     // the stream is broken: end the connection (problem says why)
};

// Takes a connection's bytes in whatever pieces they arrive and gives whole
// messages. Holds at most one message's bytes (WireMaxMessage), so a peer
// can make it hold no more than that. After an Error it stays in error.
class WireDecoder {
public:
    // Feeds up to `count` bytes and returns how many it took (as many as
    // fit; read messages out with Next until NeedMore, then feed the rest).
    // A message from Next stays valid until the next Feed.
    unsigned Feed(const uint8_t* bytes, unsigned count);
    // The next whole message, if there is one. A type not known or a length
    // over its type's limit is an Error, said in `problem`.
    WireStatus Next(WireMessage* message, const char** problem);
    // Bytes held and not yet read as messages: nonzero at a peer's end
    // means it broke off mid-message.
    unsigned Pending() const { return end_ - start_; }
    // How many bytes the next Feed takes at most.
    unsigned Room() const { return unsigned(sizeof buffer_) - (end_ - start_); }
    void Reset() {
        start_ = end_ = 0;
        failed_ = nullptr;
    }

private:
    uint8_t buffer_[WireMaxMessage];
    unsigned start_ = 0, end_ = 0;
    const char* failed_ = nullptr;
};

// The limit on a type's payload (0 for a type not known).
unsigned WirePayloadLimit(uint8_t type);

#endif
