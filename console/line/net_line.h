// A serial line reached over the network (see line.h for the calls): a port
// server speaking RFC 2217 ("rfc2217://HOST:PORT") or a raw TCP port
// ("tcp://HOST:PORT", no Telnet at all: no settings, no controls).
//
// Every Open looks the host name up afresh on a thread of its own (a name
// that does not resolve is Missing: it may yet), then starts a non-blocking
// connect to each address in turn; Continue moves both on. For RFC 2217 it
// stays InProgress until the server accepts the COM-PORT-OPTION, then sends
// the settings, flow control and the DTR/RTS given to Open (where not -1).
// A server that sends data before it answers is open at its first data
// byte, and its commands go out if it accepts later. Controls go out as
// commands and return Done at once: some servers never answer them.
// Timeouts are the caller's: it closes and opens again; Awaiting() names
// the step that got no answer. TCP keepalive finds a server that vanished
// without a word (about 25 s idle, 30 s with data unacknowledged): the
// line is then Lost.
//
// For the caller's loop: the line's own bytes (negotiation answers, escaped
// data, commands) go out on every call that can send; when poll() reports
// POLLOUT and the caller has nothing to write, Write(nullptr, 0, &count)
// sends them. Data that came with the server's acceptance waits for the
// first Read, so read once after Continue returns Open.
#ifndef BRISVANE_CONSOLE_NET_LINE_H
#define BRISVANE_CONSOLE_NET_LINE_H

#include <sys/socket.h>

#include "console/line/line.h"
#include "console/line/net_address.h"
#include "console/line/resolver.h"
#include "console/line/telnet_comport.h"

class NetworkLine : public Line {
public:
    explicit NetworkLine(const NetworkAddress& address);
    ~NetworkLine() override;
    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;

    OpenResult Open(const LineControls& controls, char* message, unsigned capacity) override;
    OpenResult Continue(short revents, char* message, unsigned capacity) override;
    void Close() override;

    int Descriptor() const override { return phase_ == Phase::Resolving ? resolver_.Descriptor() : socket_; }
    short PollEvents(bool haveOutput) const override;

    IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) override;
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override;

    ControlResult Apply(const LineControls& controls, char* problem, unsigned capacity) override;
    ControlResult SetBreak(bool on) override;
    ControlResult SetModemOutput(ModemOutput which, bool on) override;
    ControlResult ReadModemLines(ModemLines* lines) override;

    const char* Awaiting() const override;
    bool TakeNote(char* message, unsigned capacity) override;
    bool OutputStuck() const override { return stuck_; }

    bool HasSettings() const override { return telnet_ != nullptr; }
    const char* Name() const override { return name_; }

private:
    enum class Phase : uint8_t { Closed, Resolving, Connecting, Negotiating, Open };
    // One read while negotiating: data in it is held for the first Read.
    static constexpr unsigned NegotiateBlock = 512;

    bool StartConnect(int* error);
    OpenResult ConnectFailed(int error, char* message, unsigned capacity);
    OpenResult Negotiate(short revents, char* message, unsigned capacity);
    OpenResult Resolved(char* message, unsigned capacity);
    bool Flush();
    ControlResult CanControl() const;

    char name_[300];
    char host_[256];
    uint16_t port_;
    Resolver resolver_;
    ResolvedAddresses addresses_;
    unsigned nextAddress_;

    int socket_;
    Phase phase_;
    TelnetComPort* telnet_;         // null for raw TCP
    bool dtr_, rts_;                // as last set
    uint8_t held_[NegotiateBlock];  // data that came while negotiating
    unsigned heldLength_;
    bool stuck_;        // bytes the socket would not take
    bool refusalSaid_;  // the server's DONT after it began
};

#endif
