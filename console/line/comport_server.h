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
    bool NotifyModem(uint8_t bits);
    bool NotifyLine(uint8_t bits);

    // Data for the client: IAC doubled; returns how many bytes it took.
    unsigned Send(const uint8_t* data, unsigned length);
    // The same escaping into a caller's buffer, for bytes several clients
    // share: returns the bytes written; *taken how many of `input` fit.
    static unsigned EscapeData(const uint8_t* input, unsigned length, uint8_t* out, unsigned capacity,
                               unsigned* taken);

    const uint8_t* Output() const { return output_; }
    unsigned OutputLength() const { return outputLength_; }
    void Consumed(unsigned count);

    // True once the client agreed to the port option.
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
