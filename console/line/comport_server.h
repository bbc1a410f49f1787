// The port server's side of Telnet with the COM-PORT-OPTION (RFC 2217), as
// a pure object with no I/O: what a served line speaks to a network client
// that expects a port server (a test framework's serial client, a console
// program given HOST:PORT).
//
// Its owner feeds it the client's bytes and gets back the data bytes and the
// client's port requests; it answers each request with the value then in
// force (Answer), sends the line's bytes escaped (Send, or EscapeData for
// one escaping shared by several clients) and the modem and line state
// where the client asked for them. The bytes to send collect in a fixed
// buffer; Output/Consumed hand them to the socket.
//
// Options: BINARY and SUPPRESS-GO-AHEAD both ways, ECHO on our side (the
// far end echoes, the client must not), COM-PORT-OPTION from the client;
// every other option is refused. A state change is answered once, so two
// ends cannot loop. Bounded: a subnegotiation longer than
// SubnegotiationLimit is dropped up to its IAC SE, requests beyond
// RequestCapacity wait in the client's bytes (Receive takes no more), and
// nothing a client sends makes it allocate, loop, or write past a buffer.
#ifndef BRISVANE_CONSOLE_COMPORT_SERVER_H
#define BRISVANE_CONSOLE_COMPORT_SERVER_H

#include <cstdint>

#include "console/line/line.h"

// The client's commands (the server answers with command + 100).
enum class ComPortCommand : uint8_t {
    Signature = 0,
    SetBaudrate = 1,
    SetDatasize = 2,
    SetParity = 3,
    SetStopsize = 4,
    SetControl = 5,
    FlowSuspend = 8,
    FlowResume = 9,
    SetLinestateMask = 10,
    SetModemstateMask = 11,
    PurgeData = 12,
};

// One request as the client sent it: value 0 asks for the value in force
// (where the command has a value). Signature requests carry no value here.
struct ComPortRequest {
    ComPortCommand command;
    uint32_t value;
};

// A request against a line: ComPortApply says what it changes (true with
// *controls changed; *breakAsked 1 or 0 for a BREAK on or off, else -1);
// ComPortInForce the value to answer with, in the command's own codes, for
// the controls in force after it was applied or refused. Pure.
bool ComPortApply(const ComPortRequest& request, LineControls* controls, int* breakAsked);
uint32_t ComPortInForce(const ComPortRequest& request, const LineControls& controls, bool breakOn);

// The modem state byte for a served line: every input down while it is not
// `open`; inputs it cannot read (`known` false: a pty) as a connected
// cable's, CTS, DSR and DCD on. The low bits mark the inputs changed since
// `previous`, an earlier result (ComPortNoState: none yet). Pure.
const uint16_t ComPortNoState = 0x100;
uint8_t ComPortModemBits(bool open, bool known, const ModemLines& lines, uint16_t previous);
// The line state byte: both transmit registers empty while open; a gone
// line reads as a break held, as a pulled cable does on a port server.
uint8_t ComPortLineBits(bool open);

class ComPortServer {
public:
    static constexpr unsigned OutputCapacity = 4096;
    static constexpr unsigned RequestCapacity = 32;
    static constexpr unsigned SubnegotiationLimit = 256;

    ComPortServer() { Reset(); }

    // Starts afresh for a new connection: forgets everything and queues the
    // opening offers.
    void Reset();

    // Takes client bytes while there is room for what they may call for;
    // returns how many it took (0: send output or take requests first).
    // Data bytes go to `data` (capacity `length`, may be `input` itself).
    unsigned Receive(const uint8_t* input, unsigned length, uint8_t* data, unsigned* dataCount);

    // The client's requests in order; false when none waits.
    bool TakeRequest(ComPortRequest* request);
    // Answers `command` with `value` (the value in force after the owner
    // acted on it, or refused it). False when the output has no room.
    // Mask commands are kept here too: notifications follow them.
    bool Answer(ComPortCommand command, uint32_t value);
    // Answers a signature request.
    bool AnswerSignature(const char* text);

    // NOTIFY-MODEMSTATE / NOTIFY-LINESTATE, sent only when the client's mask
    // lets a bit through (the modem's default mask is 255, the line's 0).
    // A client's poll (NOTIFY-MODEMSTATE or -LINESTATE sent to us) makes the
    // next notification go even when nothing changed.
    bool NotifyModem(uint8_t bits);
    bool NotifyLine(uint8_t bits);
    // True while the client agreed to the port option and a mask lets a
    // notification through: only then is the line's state worth reading.
    bool WantsState() const { return PortAgreed() && ((modemMask_ & 0xf0) != 0 || lineMask_ != 0); }

    // Data for the client: IAC doubled; returns how many bytes it took.
    unsigned Send(const uint8_t* data, unsigned length);
    // The same escaping into a caller's buffer, for bytes several clients
    // share: returns the bytes written; *taken how many of `input` fit.
    static unsigned EscapeData(const uint8_t* input, unsigned length, uint8_t* out, unsigned capacity,
                               unsigned* taken);

    const uint8_t* Output() const { return output_; }
    unsigned OutputLength() const { return outputLength_; }
    void Consumed(unsigned count);

    // True once the client agreed to the port option (or used it).
    bool PortAgreed() const { return him_[OptComPort] == On; }
    // True once after a subnegotiation was cut off at the limit.
    bool TakeDiscarded();

private:
    enum Opt : uint8_t { OptBinary, OptEcho, OptSga, OptComPort, OptCount };
    enum OptState : uint8_t { Off, Asked, On };
    enum class Scan : uint8_t { Data, Cr, Command, Option, SubOption, SubData, SubIac, Discard, DiscardIac };

    static int OptIndex(uint8_t option);
    void Negotiate(uint8_t verb, uint8_t option);
    void Command(uint8_t verb, uint8_t option);
    void Subnegotiation();
    bool Room(unsigned count) const { return OutputCapacity - outputLength_ >= count; }
    void Put(const uint8_t* bytes, unsigned count);
    bool PutSub(uint8_t code, const uint8_t* value, unsigned length);
    void Data(uint8_t byte);

    Scan scan_;
    uint8_t verb_;
    uint8_t subOption_;
    uint8_t sub_[SubnegotiationLimit];
    unsigned subLength_;
    bool discarded_;
    OptState us_[OptCount];   // our side: WILL
    OptState him_[OptCount];  // the client's side: DO
    uint8_t modemMask_, lineMask_;
    uint16_t lastModem_, lastLine_;  // last notified; 0x100: none since the mask

    uint8_t* data_;
    unsigned dataLength_;

    ComPortRequest requests_[RequestCapacity];
    unsigned requestStart_, requestCount_;

    uint8_t output_[OutputCapacity];
    unsigned outputLength_;
};

#endif
