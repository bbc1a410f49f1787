// The served line's one client layer, socket side: what every kind of
// client has in common (a --share client, an attached client, an RFC 2217
// or raw TCP client).
//
// - One accept path: ClientAccept takes a waiting connection, non-blocking,
//   into a table's free client (ClientFree; none: the caller refuses it),
//   names where it came from, and on TCP sets TCP_NODELAY (typing and echoes
//   go out at once); every client's socket asks the kernel for
//   ClientSocketBuffer of send room, so one descheduled a while is not
//   dropped for it.
// - One backlog and one drop rule: what a client has not read waits in
//   ClientBacklog bytes of its own (ClientSeat takes them); ClientQueue puts
//   bytes there whole or not at all, and a client whose backlog fills does
//   not read: its owner drops it, so it never holds the line or the others.
//   ClientFlush sends what waits as far as the socket takes it now.
// - One fan-out: ClientFanOut queues the line's bytes for every client of a
//   table, and marks those that did not keep up, to be dropped after, so no
//   client leaves halfway through it.
//
// Which client may have a seat and who may write is not decided here: the
// roster says (console/rules/roster.h). Nothing here waits. Each kind's
// client is a ClientSocket with what that kind needs besides.
#ifndef BRISVANE_CONSOLE_SERVE_CLIENTS_H
#define BRISVANE_CONSOLE_SERVE_CLIENTS_H

#include <cstdint>
#include <sys/socket.h>

#include "console/rules/share_buffer.h"

const unsigned ClientBacklog = 1u << 20;
const int ClientSocketBuffer = 1 << 20;
const unsigned ClientAddressCapacity = 64;

// One client's socket and the bytes that wait for it.
struct ClientSocket {
    int fd = -1;
    ShareBuffer backlog;
};

struct AcceptedClient {
    int fd = -1;
    struct sockaddr_storage from;
    socklen_t length = 0;
    char address[ClientAddressCapacity] = "";  // "127.0.0.1:4000", "[::1]:4000"; "" on a UNIX socket
};

enum class ClientAccepted : uint8_t {
    Took,    // a connection is in `accepted`
    None,    // none waits (or one gave up meanwhile)
    NoRoom,  // the process is out of descriptors or memory: it stays queued
};

// Takes one connection waiting on `listener`.
ClientAccepted ClientAccept(int listener, bool tcp, AcceptedClient* accepted);

// Gives the client its backlog, emptied. False when there is no memory.
bool ClientSeat(ClientSocket& client);
// Closes the socket and gives its backlog back; safe when closed.
void ClientClose(ClientSocket& client);

// Puts `bytes` and then `more` after what waits for the client, all of them
// or none. False: they do not fit, the client did not keep up.
bool ClientQueue(ClientSocket& client, const uint8_t* bytes, unsigned count, const uint8_t* more = nullptr,
                 unsigned moreCount = 0);
// Sends what waits, as far as the socket takes it now. False when the
// client is gone.
bool ClientFlush(ClientSocket& client);
// A few bytes (a refusal) into a fresh socket, which is then closed.
void ClientRefuse(int fd, const uint8_t* bytes, unsigned count);

// The first free client of `table`; null when every one is taken.
template <class Client, unsigned N>
Client* ClientFree(Client (&table)[N]) {
    for (Client& c : table) {
        if (c.fd < 0) return &c;
    }
    return nullptr;
}

// The line's bytes for every open client of `table` that `takes` (a
// predicate on one); `full[i]` says table[i] did not keep up.
template <class Client, unsigned N, class Takes>
void ClientFanOut(Client (&table)[N], Takes takes, const uint8_t* bytes, unsigned count, bool (&full)[N],
                  const uint8_t* more = nullptr, unsigned moreCount = 0) {
    for (unsigned i = 0; i < N; ++i) {
        Client& c = table[i];
        if (c.fd >= 0 && takes(c) && !ClientQueue(c, bytes, count, more, moreCount)) full[i] = true;
    }
}

#endif
