// The served line's side of attaching: its listening sockets (opened as
// --share opens them: one UNIX socket, one TCP, or one of each, each client
// admitted by its own socket's rule), the clients on them, their roles in
// one roster, and what goes to each.
//
// A client first says hello (wire.h). Until then it waits at the door
// (door.h), in a pool of its own with a bound per peer, at most
// HelloWaitMilliseconds; it takes one of the ServeMaxClients slots only once
// the access rules (access.h) have admitted its hello. A hello already
// sent is read as its connection is accepted. A peer that finds no room at
// the door has its silent connection that waited longest closed for the
// new one, or, with none silent, the new one refused at once (on TCP with
// its token unread; on a UNIX socket once a hello that came with it is
// decided); others' are never touched. On a UNIX socket the kernel names
// the peer as it connects: one the lists refuse is refused then. One whose
// first bytes are not a hello, or that says nothing, is a raw client:
// dropped, or kept as a raw watcher where the rules allow it (it gets the
// line's bytes as they are and never types; at most ServeMaxRaw, in seats
// of their own, never one of a client that said who it is). A refusal is
// sent with its reason and the client closed (a wrong token only after
// WrongTokenDelayMilliseconds, kept as a deadline at the door: nothing here
// waits); what happens at the door is logged once per peer a minute.
// An admitted client gets the snapshot (snapshot.h), then the line's bytes;
// both drain through a bounded buffer, so a client that does not keep up is
// dropped and never holds the line. Accepting, the backlog and its drop
// rule and the fan-out are the client layer's (clients.h); who may have a
// seat and who writes, the roster's. A malformed or oversized message ends
// that client alone.
//
// The writer's bytes and controls go to the console through ServeHooks; a
// watcher's are refused with a notice that says how to take the line.
// The line's state (its settings in force, whether it is there) follows
// the welcome, and goes to every client as it changes (ServeLineState).
// Every change of role is told to the client concerned (with who caused
// it) and the roster to everyone. A script on the server is a member of its
// own kind (ServeScriptBegins).
//
// The loop's calls, as for --share: ServeDescriptors before poll,
// ServeEvents after, ServeTimers at ServeDue, ServeReceived for each block
// the line gave.
#ifndef BRISVANE_CONSOLE_SERVE_SERVER_H
#define BRISVANE_CONSOLE_SERVE_SERVER_H

#include <cstdint>
#include <climits>
#include <memory>
#include <poll.h>

#include "console/rules/history.h"
#include "console/line/line.h"
#include "console/features/serve/access.h"
#include "console/features/serve/clients.h"
#include "console/features/serve/door.h"
#include "console/rules/roster.h"
#include "console/rules/snapshot.h"
#include "console/rules/wire.h"
#include "console/features/share.h"
#include "console/rules/share_buffer.h"
#include "console/rules/sink.h"

// Admitted clients, and raw watchers in seats of their own (roster.h).
const unsigned ServeMaxClients = RosterSeatsOf(SeatKind::Attached);
const unsigned ServeMaxRaw = RosterSeatsOf(SeatKind::Raw);
// Slots for the admitted, the raw watchers, the door's pool, and one to
// read a hello that came with its connection while the door is full.
const unsigned ServeEntries = ServeMaxClients + ServeMaxRaw + ServeDoorWaiting + 1;
// A UNIX socket (the lists decide) and a TCP one (the token decides), one roster.
const unsigned ServeMaxListeners = 2;
const unsigned ServeMaxDescriptors = ServeEntries + ServeMaxListeners;
// The line's bytes are gathered until this many wait, or for at most
// ServeGatherMilliseconds: a flood then costs each client a send (and a
// wake-up) per gathered block, not per block the line gave. Clients that
// have nothing else waiting share one gathering, sent to each from the same
// bytes; a client with its own messages or a backlog gets a copy in it.
const unsigned ServeGatherBytes = 128u << 10;
const int64_t ServeGatherMilliseconds = 2;

struct ServeHooks {
    void* user;
    // The writer's bytes for the line; returns how many it took (the rest is
    // given again later, and that client is not read meanwhile). `type`:
    // Typed (its user's typing, for the line's maps and bit 7), TypedText
    // (a text file's, for its bit 7) or Data (exact bytes).
    unsigned (*send)(void* user, const uint8_t* bytes, unsigned count, WireType type);
    // The writer's control (`member`: its id in the roster); a refusal's
    // reason in `problem`.
    ControlResult (*control)(void* user, const WireControlMessage& control, uint16_t member, char* problem,
                             unsigned capacity);
    // One line for the server's log (a connect, a refusal, a drop).
    void (*say)(void* user, const char* text);
    // The script's role changed: false pauses it, true resumes it.
    void (*scriptWrites)(void* user, bool writes);
    // Anyone's role changed, in words ("alice writes, bob took the line"),
    // for a recording; null: nobody listens.
    void (*roleChanged)(void* user, const char* text) = nullptr;
};

enum class ServeState : uint8_t { Free, Hello, Refusing, Active, Raw };

struct ServeClient : ClientSocket {  // its backlog: the line's bytes, after the snapshot
    ServeState state = ServeState::Free;
    int64_t deadline = 0;      // Hello: when it is a raw client; Refusing: when to say no
    const char* refusal = "";  // Refusing: why
    Peer peer = {};
    DoorPeer door = {};   // whom it counts for at the door
    int64_t since = 0;    // when it was accepted
    bool silent = false;  // Hello: it has sent nothing yet
    uint16_t id = RosterNobody;
    bool tcp = false;                    // came through the TCP listener: its token, not the lists, decides
    char from[RosterNameCapacity] = "";  // "uid 1000" or the TCP address, for W
    bool toldWatching = false;           // a watcher's keys were refused once with the notice
    std::unique_ptr<WireDecoder> decoder;
    std::unique_ptr<uint8_t[]> staging;  // the snapshot's messages not yet sent
    unsigned stagingStart = 0, stagingEnd = 0;
    std::unique_ptr<SnapshotCursor> snapshot;  // null once sent
    std::unique_ptr<uint8_t[]> input;          // a writer's bytes the line has not taken
    unsigned inputStart = 0, inputEnd = 0;
    WireType inputType = WireType::Data;  // Data, Typed or TypedText
    bool socketFull = false;              // the last send stopped short: POLLOUT says when to go on
    bool inStep = false;                  // its next bytes are the shared gathering's, from its start
};

struct Server {
    Share listener[ServeMaxListeners];  // only their listening sockets are used
    unsigned listeners = 0;
    AccessRules rules = {};
    ServeHooks hooks = {};
    const History* history = nullptr;
    ReceiveSeam seam;  // the console's chain, read into each snapshot
    Roster roster;
    uint16_t script = RosterNobody;
    ServeClient client[ServeEntries];  // Free, waiting at the door, or admitted
    DoorLog doorLog = {};
    bool gathering = false;             // the line's bytes wait for sendDue
    std::unique_ptr<uint8_t[]> gather;  // framed Data for the clients in step
    unsigned gathered = 0;
    bool sendNow = false;         // a message of the server's own waits: no gathering
    int64_t sendDue = INT64_MAX;  // when gathered bytes go
    WireLineState line = {};      // told each client after its welcome, and to all as it changes
    // Members that are not this socket's clients (browser pages): told of
    // their role changes here, with the name of who caused each ("" none).
    void* pagesUser = nullptr;
    void (*pageRole)(void* user, uint16_t id, WireRole role, const char* by) = nullptr;
};

// Opens a listener for `where` (a --share value): a UNIX socket gets the
// mode the rules give. Called again for a second one of the other kind
// (one unix:, one tcp:); a second of the same kind is refused. False with a
// one-line message.
bool OpenServer(Server& server, const char* where, const AccessRules& rules, const ServeHooks& hooks,
                const History& history, char* message, unsigned capacity);
void CloseServer(Server& server);
inline bool ServeListening(const Server& server) { return server.listeners > 0; }

unsigned ServeDescriptors(Server& server, bool lineOpen, struct pollfd* fds, int64_t now);
void ServeEvents(Server& server, bool lineOpen, const struct pollfd* fds, unsigned count, int64_t now);
// The earliest deadline (monotonic ms) a client waits for, or gathered
// bytes do; INT64_MAX: none.
int64_t ServeDue(const Server& server);
void ServeTimers(Server& server, int64_t now);
void ServeReceived(Server& server, const uint8_t* bytes, unsigned count);

// The line's settings, presence or writer's change: told to every client
// (each new one gets it after its welcome).
void ServeLineState(Server& server, const WireLineState& state);

// A script on the server starts or ends: it writes unless a client holds the
// line (it is then paused until the line comes back).
void ServeScriptBegins(Server& server, int64_t since);
void ServeScriptEnds(Server& server);
bool ServeScriptWrites(const Server& server);
// A browser page joins the roster (watching; one with the token may take
// the line later): its id, or RosterNobody when the roster is full.
uint16_t ServePageJoins(Server& server, const char* name, int64_t since, bool mayWrite);
void ServePageLeaves(Server& server, uint16_t id);
// Any member that is not this socket's client (a page, a port client):
// joins in a seat of its kind (RosterNobody: none is free) as the first
// with the right to write (roster.h: RosterMayWrite of `granted`) gets a
// free line, and leaves.
uint16_t ServeMemberJoins(Server& server, SeatKind seat, const char* name, int64_t since, bool granted);
void ServeMemberLeaves(Server& server, uint16_t id);
// A member that is not this socket's client sent something of its own:
// its idle time starts again.
void ServeMemberInput(Server& server, uint16_t id);
// The page takes the line as a client's Take does. False: it may only watch.
bool ServePageTakes(Server& server, uint16_t id);
// Attached clients, raw watchers too.
unsigned ServeClients(const Server& server);

// The server as a raw sink of the receive chain: room always, a client
// that does not keep up is dropped, never waited for.
class ServeSink : public ReceiveSink {
public:
    explicit ServeSink(Server& server) : server_(server) {}
    void Take(const uint8_t* bytes, unsigned count, const struct timespec&) override {
        ServeReceived(server_, bytes, count);
    }

private:
    Server& server_;
};

#endif
