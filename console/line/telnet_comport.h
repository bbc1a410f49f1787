// The Telnet side of a network serial line with the COM-PORT-OPTION
// (RFC 2217), as a pure object with no I/O. Its owner feeds it the server's
// bytes and gets back the data bytes for the screen; it hands it data for the
// server; and it sends, as the socket takes them, the bytes this object
// collects (negotiation answers, escaped data, port commands).
//
// libtelnet negotiates the options (RFC 1143), escapes IAC both ways and
// frames subnegotiations. This object offers COM-PORT-OPTION, TRANSMIT-BINARY
// and SUPPRESS-GO-AHEAD, refuses every other option, sends the port commands
// once the server accepts, and keeps the server's last NOTIFY-MODEMSTATE. It
// never waits for an answer: answers to its commands and the notifications it
// does not use are ignored.
//
// Bounded in every way: outgoing bytes live in a fixed buffer, server bytes
// are taken only as far as the answers they may need fit in it, and nothing a
// server sends makes it allocate per byte, loop, or write outside a buffer.
#ifndef BRISVANE_CONSOLE_TELNET_COMPORT_H
#define BRISVANE_CONSOLE_TELNET_COMPORT_H

#include <cstdint>

#include "link/settings_notation.h"

struct telnet_t;
union telnet_event_t;

enum class ComPortState : uint8_t {
    Negotiating,  // offered, not answered yet
    Accepted,     // the server said DO: port commands go out
    Refused,      // the server said DONT: not a port server (or it withdrew)
};

// The modem input bits of NOTIFY-MODEMSTATE.
const uint8_t ModemCts = 0x10, ModemDsr = 0x20, ModemRi = 0x40, ModemDcd = 0x80;

class TelnetComPort {
public:
    static constexpr unsigned OutputCapacity = 4096;
    // Longest subnegotiation kept (libtelnet's own buffer holds 16384).
    static constexpr unsigned SubnegotiationLimit = 4096;

    // Allocates libtelnet's state; Reset() must come before first use.
    TelnetComPort();
    ~TelnetComPort();
    TelnetComPort(const TelnetComPort&) = delete;
    TelnetComPort& operator=(const TelnetComPort&) = delete;

    // Starts afresh for a new connection: forgets the options, the commands
    // and the bytes not yet sent, and queues the opening offers.
    void Reset();

    // How many server bytes Receive takes now: 0 while the outgoing buffer is
    // too full for the answers they may call for (send some, then retry).
    unsigned InputRoom() const;
    // Takes at most InputRoom() of the `length` server bytes and returns how
    // many it took. Their data bytes go to `data`, which holds `length` bytes
    // and may be `input` itself; *dataCount says how many.
    unsigned Receive(const uint8_t* input, unsigned length, uint8_t* data, unsigned* dataCount);

    // Data for the server: takes as many bytes as fit once IAC is doubled
    // (none while accepted port commands wait for room); returns how many.
    unsigned Send(const uint8_t* data, unsigned length);

    // Port commands. Each kind keeps its latest value and goes out once the
    // option is accepted and there is room, so settings given while
    // negotiating go out when the server accepts. The modem-state mask (all
    // four inputs) is always sent on acceptance.
    void SetSettings(const LineSettings& settings);
    void SetFlowControl(bool hardware);
    void SetBreak(bool on);
    void SetDtr(bool on);
    void SetRts(bool on);

    // The bytes for the server, in order; Consumed(n) drops the first n once
    // the socket took them.
    const uint8_t* Output() const { return output_; }
    unsigned OutputLength() const { return outputLength_; }
    void Consumed(unsigned count);

    ComPortState State() const { return state_; }
    // The inputs of the last NOTIFY-MODEMSTATE (Modem* bits): false until one
    // arrived.
    bool ModemState(uint8_t* bits) const;
    // True once after a subnegotiation longer than SubnegotiationLimit was
    // cut off: its bytes up to IAC SE are dropped, never read as data.
    bool TakeDiscarded();
    // True if libtelnet was ever switched into a mode this object never asked
    // for (compression); from then on server bytes are swallowed. Cannot
    // happen by design: the fuzz target checks it never does.
    bool Broken() const { return broken_; }

private:
    enum class Scan : uint8_t {
        Data,
        Command,
        Option,  // data, IAC, IAC WILL/WONT/DO/DONT
        SubOption,
        SubData,
        SubIac,  // IAC SB, its body, IAC in the body
        Discard,
        DiscardIac,  // a body past the limit, IAC in it
    };

    static void OnEvent(telnet_t* telnet, telnet_event_t* event, void* self);
    void Event(const telnet_event_t& event);
    void Pass(const uint8_t* bytes, unsigned length);
    void ScanCommand(uint8_t byte);
    void Append(const uint8_t* bytes, unsigned length);
    void FlushCommands();
    void Queue(unsigned pending);
    bool SendCommand(uint8_t command, const uint8_t* value, unsigned length);

    telnet_t* telnet_;
    ComPortState state_;
    bool broken_;
    Scan scan_;
    uint8_t negotiation_;  // the WILL/WONT/DO/DONT being scanned
    unsigned subLength_;   // body bytes of the subnegotiation being scanned
    bool ignoreSub_;       // the subnegotiation ending now was cut off
    bool discarded_;       // one was cut off since TakeDiscarded
    bool modemKnown_;
    uint8_t modemBits_;

    // Commands waiting for acceptance or room: one bit each, latest values.
    unsigned pending_;
    LineSettings settings_;
    bool hardwareFlow_, breakOn_, dtrOn_, rtsOn_;

    uint8_t* data_;  // where Receive puts data bytes
    unsigned dataLength_, dataCapacity_;

    uint8_t output_[OutputCapacity];
    unsigned outputLength_;
};

#endif
