// The served line's port accepters, for the lab's own tools: an RFC 2217
// accepter (Telnet with the COM-PORT-OPTION, as a port server speaks it) and
// a raw TCP one (the bytes alone), each on a TCP address of its own.
//
// Their clients carry no identity, so they have PortMaxClients slots of
// their own and never take one from an attached client or a page. Each is a
// member of the served line's roster (through PortHooks): it watches, or,
// when the profile lets port clients write, takes the line if it is free. A
// watcher's bytes and port requests reach nothing (its requests are answered
// with the line's values in force) and it is said once per client; a
// writer's bytes go to the line and its requests change it.
//
// Every client gets the line's bytes as they arrive (IAC doubled on
// RFC 2217), after the last `replay` bytes received before it connected.
// Accepting, the backlog and the fan-out are the client layer's
// (clients.h): what a client has not read waits in ClientBacklog bytes of
// its own; one that does not keep up is dropped, never waited for. More
// clients than their seats (PortMaxClients) are told why and closed.
//
// The loop's calls, each pass: PortDescriptors before poll, PortEvents
// after; the receive chain gives it every block read from the line.
#ifndef BRISVANE_CONSOLE_SERVE_PORT_SERVER_H
#define BRISVANE_CONSOLE_SERVE_PORT_SERVER_H

#include <cstdint>
#include <memory>
#include <poll.h>

#include "console/features/serve/clients.h"
#include "console/features/share.h"
#include "console/line/comport_server.h"
#include "console/rules/roster.h"
#include "console/rules/sink.h"

const unsigned PortMaxAccepters = 4;
const unsigned PortMaxClients = RosterSeatsOf(SeatKind::Port);
const unsigned PortMaxDescriptors = PortMaxAccepters + PortMaxClients;
const unsigned PortReplayMax = 16u << 20;
const unsigned PortInputCapacity = 4096;

struct PortHooks {
    void* user;
    // Joins the roster as `name`; its id (0: the roster is full).
    uint16_t (*join)(void* user, const char* name, bool mayWrite);
    void (*leave)(void* user, uint16_t member);
    bool (*writes)(void* user, uint16_t member);
    // A writer's bytes for the line; how many it took (the rest waits).
    unsigned (*send)(void* user, const uint8_t* bytes, unsigned count);
    // A port request: applied when `apply` (the member writes); returns the
    // value in force after it, to answer with.
    uint32_t (*request)(void* user, const ComPortRequest& request, bool apply, const char* who);
    void (*say)(void* user, const char* text);
    // The member sent something of its own (W's idle time starts again).
    void (*input)(void* user, uint16_t member);
};

struct PortClient : ClientSocket {
    bool telnet = false;
    uint16_t member = 0;
    bool toldWatching = false;
    char name[64] = "";
    std::unique_ptr<ComPortServer> protocol;  // RFC 2217 clients
    uint8_t input[PortInputCapacity];         // a writer's data the line has not taken
    unsigned inputStart = 0, inputEnd = 0;
};

struct PortAccepter {
    Share listener;  // only its listening socket is used
    bool telnet = false;
    char where[64] = "";
};

struct PortServer {
    PortAccepter accepter[PortMaxAccepters];
    unsigned accepters = 0;
    PortClient client[PortMaxClients];
    PortHooks hooks = {};
    bool mayWrite = false;
    // The last bytes received, for a client that connects later.
    std::unique_ptr<uint8_t[]> replay;
    unsigned replaySize = 0, replayHead = 0, replayCount = 0;
    std::unique_ptr<uint8_t[]> escaped;  // one escaping of a block for every RFC 2217 client
    // The line's modem and line state as last read, and when to read it again.
    uint16_t modem = ComPortNoState;
    int64_t stateDue = 0;
};

// Whether `where` may be opened: its form, and a non-loopback host only
// when `open`. False with a one-line message.
bool PortAddressAllowed(const char* where, bool open, char* message, unsigned capacity);
// Opens one accepter for `where` ("rfc2217:[HOST:]PORT" or
// "tcp-raw:[HOST:]PORT"). A non-loopback host is refused unless `open`.
// False with a one-line message.
bool OpenPortAccepter(PortServer& server, const char* where, bool open, char* message, unsigned capacity);
// Sets the policy and the replay size once the accepters are open.
bool StartPortServer(PortServer& server, const PortHooks& hooks, bool mayWrite, unsigned replay);
void ClosePortServer(PortServer& server);

unsigned PortDescriptors(PortServer& server, bool lineOpen, struct pollfd* fds);
void PortEvents(PortServer& server, bool lineOpen, const struct pollfd* fds, unsigned count);
void PortReceived(PortServer& server, const uint8_t* bytes, unsigned count);
unsigned PortClients(const PortServer& server);
// True while an RFC 2217 client asked for the modem or line state: only
// then does the loop read them (PortStateDue says when).
bool PortWantsState(const PortServer& server);
// The line's state as read now (ComPortModemBits, ComPortLineBits): each
// RFC 2217 client is told what its masks let through and has changed.
void PortLineState(PortServer& server, uint8_t modem, uint8_t line);

class PortSink : public ReceiveSink {
public:
    explicit PortSink(PortServer& server) : server_(server) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override {
        PortReceived(server_, bytes, count);
    }

private:
    PortServer& server_;
};

#endif
