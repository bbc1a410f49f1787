// A serial line reached over the network (see line.h for the calls): a port
// server speaking RFC 2217 ("rfc2217://HOST:PORT") or a raw TCP port
// ("tcp://HOST:PORT", no Telnet at all: no settings, no controls).
//
// The host name is resolved once, when the line is made (this may block);
// the addresses are kept for every later Open, which starts a non-blocking
// connect to each in turn. Continue finishes it; for RFC 2217 it stays
// InProgress until the server accepts the COM-PORT-OPTION, then sends the
// settings, flow control and the DTR/RTS given to Open (where not -1).
// Controls go out as commands and return Done at once: some servers never
// answer them. Timeouts are the caller's: it closes and opens again.
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
#include "console/line/telnet_comport.h"

class NetworkLine : public Line {
public:
    // Resolves the host; a failure is reported by every Open.
    explicit NetworkLine(const NetworkAddress& address);
    ~NetworkLine() override;
    NetworkLine(const NetworkLine&) = delete;
    NetworkLine& operator=(const NetworkLine&) = delete;

    OpenResult Open(const LineControls& controls, char* message, unsigned capacity) override;
    OpenResult Continue(short revents, char* message, unsigned capacity) override;
    void Close() override;

    int Descriptor() const override { return socket_; }
    short PollEvents(bool haveOutput) const override;

    IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) override;
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override;

    ControlResult Apply(const LineControls& controls, char* problem, unsigned capacity) override;
    ControlResult SetBreak(bool on) override;
    ControlResult SetModemOutput(ModemOutput which, bool on) override;
    ControlResult ReadModemLines(ModemLines* lines) override;

    bool HasSettings() const override { return telnet_ != nullptr; }
    const char* Name() const override { return name_; }

private:
    enum class Phase : uint8_t { Closed, Connecting, Negotiating, Open };
    static constexpr unsigned MaxAddresses = 8;
    static constexpr unsigned HeldCapacity = 1024;

    bool StartConnect(int* error);
    OpenResult ConnectFailed(int error, char* message, unsigned capacity);
    OpenResult Negotiate(short revents, char* message, unsigned capacity);
    bool Flush();
    ControlResult CanControl() const;

    char name_[300];
    int resolveError_;  // getaddrinfo's code, 0 when resolved
    sockaddr_storage addresses_[MaxAddresses];
    socklen_t addressLengths_[MaxAddresses];
    unsigned addressCount_;
    unsigned nextAddress_;

    int socket_;
    Phase phase_;
    TelnetComPort* telnet_;  // null for raw TCP
    bool dtr_, rts_;         // as last set
    uint8_t held_[HeldCapacity];  // data that came while negotiating
    unsigned heldLength_;
};

#endif
