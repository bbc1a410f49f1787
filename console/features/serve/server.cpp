#include "console/features/serve/server.h"

#include "console/line/clock.h"

#include <cerrno>
#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const unsigned StagingCapacity = WireMaxMessage;
const unsigned GatherCapacity = ServeGatherBytes + WireMaxMessage;
const unsigned InputCapacity = WireMaxPayload;
const char TakeHint[] = "you are watching: take the line to type (the menu's g, or --attach ... --take)";
const char WatchOnly[] = "you may only watch this line";

// What a watcher is told when it types or sends a control: how to take the
// line, or that it never may.
const char* WatcherHint(const Server& server, uint16_t id) {
    return RosterInputFrom(server.roster, id) == InputAnswer::Take ? TakeHint : WatchOnly;
}

void Log(Server& server, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Log(Server& server, const char* format, ...) {
    if (server.hooks.say == nullptr) return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    server.hooks.say(server.hooks.user, text);
}

void UserName(uint32_t uid, char* name, unsigned capacity);

// One line about a client at the door, logged once per peer a minute.
void DoorLine(Server& server, const ServeClient& client, int64_t now, const char* what) {
    unsigned quiet = 0;
    if (server.hooks.say == nullptr || !DoorSays(server.doorLog, client.door, now, &quiet)) return;
    char who[96];
    if (client.tcp) {
        char address[64];
        DoorPeerText(client.door, address, sizeof address);
        std::snprintf(who, sizeof who, "a TCP client from %s", address);
    } else if (client.peer.known) {
        UserName(client.peer.uid, who, sizeof who);
    } else {
        std::snprintf(who, sizeof who, "a client the kernel would not name");
    }
    char more[64] = "";
    if (quiet > 0) std::snprintf(more, sizeof more, " (and %u more from them since, not logged)", quiet);
    Log(server, "serve: %s %s%s", who, what, more);
}

bool Waiting(const ServeClient& c) {
    return c.fd >= 0 && (c.state == ServeState::Hello || c.state == ServeState::Refusing);
}

unsigned Count(const Server& server, ServeState state) {
    unsigned count = 0;
    for (const ServeClient& c : server.client) count += c.fd >= 0 && c.state == state ? 1 : 0;
    return count;
}

void Tell(Server& server, const RoleChanges& changes);

void Drop(Server& server, ServeClient& client, const char* why) {
    if (client.fd < 0) return;
    const RosterMember* member = RosterFind(server.roster, client.id);
    if (why != nullptr) Log(server, "serve: %s left: %s", member != nullptr ? member->name : "a client", why);
    ClientClose(client);
    client.state = ServeState::Free;
    client.decoder.reset();
    client.staging.reset();
    client.snapshot.reset();
    client.input.reset();
    client.inputStart = client.inputEnd = client.stagingStart = client.stagingEnd = 0;
    client.socketFull = client.inStep = false;
    uint16_t id = client.id;
    client.id = RosterNobody;
    if (id != RosterNobody) {
        RoleChanges changes;
        RosterLeave(server.roster, id, &changes);
        Tell(server, changes);
    }
}

// The client takes its own copy of what was gathered so far: a message of
// its own goes after it. False when it was dropped.
bool LeaveStep(Server& server, ServeClient& client) {
    if (!client.inStep) return true;
    client.inStep = false;
    // Its backlog is empty while it is in step: this always fits.
    if (server.gathered == 0 || ClientQueue(client, server.gather.get(), server.gathered)) return true;
    Drop(server, client, "it did not keep up");
    return false;
}

// What was gathered goes to every client in step, from the same bytes; what
// a socket does not take now waits in that client's backlog. Drops come
// after: a drop tells the others, and they must find the gathering gone.
void SendGathered(Server& server) {
    unsigned length = server.gathered;
    if (length == 0) return;
    server.gathered = 0;
    const char* gone[ServeEntries] = {};
    for (unsigned i = 0; i < ServeEntries; ++i) {
        ServeClient& c = server.client[i];
        if (c.fd < 0 || !c.inStep) continue;
        ssize_t sent = send(c.fd, server.gather.get(), length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            gone[i] = "it hung up";
            continue;
        }
        if (sent < 0) sent = 0;
        if (unsigned(sent) == length) continue;
        c.inStep = false;
        c.socketFull = true;
        if (!ClientQueue(c, server.gather.get() + sent, length - unsigned(sent)))
            gone[i] = "it did not keep up";
    }
    for (unsigned i = 0; i < ServeEntries; ++i) {
        if (gone[i] != nullptr) Drop(server, server.client[i], gone[i]);
    }
}

// A message for one client, after what waits for it; a client that cannot
// take it is dropped.
bool Queue(Server& server, ServeClient& client, const uint8_t* message, unsigned length) {
    if (client.fd < 0 || length == 0 || !LeaveStep(server, client)) return false;
    if (ClientQueue(client, message, length)) {
        server.sendNow = true;
        return true;
    }
    Drop(server, client, "it did not keep up");
    return false;
}

void QueueText(Server& server, ServeClient& client, WireType type, const char* text) {
    uint8_t message[WireHeaderSize + 256];
    Queue(server, client, message, PutText(message, sizeof message, type, text));
}

ServeClient* ClientOf(Server& server, uint16_t id) {
    for (ServeClient& c : server.client) {
        if (c.fd >= 0 && c.state == ServeState::Active && c.id == id) return &c;
    }
    return nullptr;
}

// The roster as it is now, to every client or to `only`.
void SendRoster(Server& server, ServeClient* only = nullptr) {
    static WireRoster roster;
    static uint8_t message[WireMaxMessage];
    RosterToWire(server.roster, int64_t(time(nullptr)), &roster);
    unsigned length = PutRoster(message, sizeof message, roster);
    for (ServeClient& c : server.client) {
        if (c.fd >= 0 && c.state == ServeState::Active && (only == nullptr || only == &c))
            Queue(server, c, message, length);
    }
}

// Tells each member whose role changed, then everyone the roster.
void Tell(Server& server, const RoleChanges& changes) {
    for (unsigned i = 0; i < changes.count; ++i) {
        const RoleChange& change = changes.change[i];
        if (server.hooks.roleChanged != nullptr) {
            const RosterMember* who = RosterFind(server.roster, change.id);
            const RosterMember* cause = RosterFind(server.roster, change.by);
            char text[RosterNameCapacity * 2 + 32];
            std::snprintf(text, sizeof text, "%s %s%s%s", who != nullptr ? who->name : "a member",
                          change.role == WireRole::Writing ? "writes" : "watches",
                          cause != nullptr ? ", by " : "", cause != nullptr ? cause->name : "");
            server.hooks.roleChanged(server.hooks.user, text);
        }
        if (change.id == server.script && server.script != RosterNobody) {
            if (server.hooks.scriptWrites != nullptr)
                server.hooks.scriptWrites(server.hooks.user, change.role == WireRole::Writing);
            continue;
        }
        const RosterMember* by = RosterFind(server.roster, change.by);
        ServeClient* client = ClientOf(server, change.id);
        if (client == nullptr) {
            if (server.pageRole != nullptr)
                server.pageRole(server.pagesUser, change.id, change.role, by != nullptr ? by->name : "");
            continue;
        }
        client->toldWatching = false;
        WireRoleChange message = {change.role, change.by, {}};
        if (by != nullptr) {
            std::snprintf(message.byName.text, sizeof message.byName.text, "%s", by->name);
            message.byName.length = uint8_t(std::strlen(message.byName.text));
        }
        uint8_t out[WireHeaderSize + 260];
        Queue(server, *client, out, PutRoleChange(out, sizeof out, message));
    }
    SendRoster(server);
}

void Refuse(Server& server, ServeClient& client, const char* reason) {
    uint8_t message[WireHeaderSize + 256];
    unsigned length = PutText(message, sizeof message, WireType::Refusal, reason);
    // A few bytes into an empty socket: they go, or the client is gone anyway.
    (void)!send(client.fd, message, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    Drop(server, client, nullptr);
}

void UserName(uint32_t uid, char* name, unsigned capacity) {
    char buffer[4096];
    struct passwd entry, *found = nullptr;
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
        std::snprintf(name, capacity, "%s", found->pw_name);
    } else {
        std::snprintf(name, capacity, "uid %u", uid);
    }
}

// An admitted client or a raw watcher takes a slot, if one is free. False
// when none is (or no memory): the caller refuses it.
bool Seat(Server& server, ServeClient& client, bool raw) {
    SeatKind kind = raw ? SeatKind::Raw : SeatKind::Attached;
    if (!RosterSeatFree(kind, Count(server, raw ? ServeState::Raw : ServeState::Active))) return false;
    return ClientSeat(client);
}

void Admitted(Server& server, ServeClient& client, const WireHello& hello, const Admission& admission,
              int64_t now) {
    if (!Seat(server, client, false)) {
        DoorLine(server, client, now, "refused: the line has as many clients as it takes");
        Refuse(server, client, "the line has as many clients as it takes");
        return;
    }
    char name[RosterNameCapacity];
    if (client.tcp) {
        // A name the client gives, cut to fit: only a label in the roster.
        std::snprintf(name, sizeof name, "%.48s (tcp)", hello.name.length > 0 ? hello.name.text : "someone");
    } else {
        UserName(client.peer.uid, name, sizeof name);
    }
    RoleChanges changes;
    bool mayWrite = admission.access == PeerAccess::Write;
    WireAsk ask = RosterAskAfterRestart(server.roster, hello.ask, hello.past, now);
    uint16_t id = RosterJoin(server.roster, SeatKind::Attached,
                             hello.kind == WireClientKind::Raw ? WireClientKind::Person : hello.kind, name,
                             int64_t(time(nullptr)), mayWrite, ask, &changes);
    if (id == RosterNobody) {
        DoorLine(server, client, now, "refused: the line has as many members as it takes");
        Refuse(server, client, "the line has as many clients as it takes");
        return;
    }
    client.id = id;
    RosterSetFrom(server.roster, id, client.from);
    client.staging.reset(new (std::nothrow) uint8_t[StagingCapacity]);
    client.snapshot.reset(new (std::nothrow) SnapshotCursor);
    client.input.reset(new (std::nothrow) uint8_t[InputCapacity]);
    if (!client.staging || !client.snapshot || !client.input) {
        DoorLine(server, client, now, "refused: no memory for another client");
        Refuse(server, client, "the server has no memory for another client");
        return;
    }
    client.state = ServeState::Active;
    WireWelcome welcome = {WireVersion,
                           RosterWrites(server.roster, id) ? WireRole::Writing : WireRole::Watching, id,
                           server.history->Count()};
    client.stagingEnd = PutWelcome(client.staging.get(), StagingCapacity, welcome);
    // The line as it is now: no change to tell, so no one named.
    WireLineState line = server.line;
    line.by = RosterNobody;
    line.byName = {};
    client.stagingEnd +=
        PutLineState(client.staging.get() + client.stagingEnd, StagingCapacity - client.stagingEnd, line);
    // One who may never write is told so at once, not once it types.
    if (!mayWrite)
        client.stagingEnd += PutText(client.staging.get() + client.stagingEnd,
                                     StagingCapacity - client.stagingEnd, WireType::Notice, WatchOnly);
    BeginSnapshot(*client.snapshot, *server.history, server.seam);
    Log(server, "serve: %s attached, %s", name, welcome.role == WireRole::Writing ? "writing" : "watching");
    Tell(server, changes);
}

void Hello(Server& server, ServeClient& client, const WireMessage& message, int64_t now) {
    WireHello hello;
    if (!ReadHello(message, &hello)) {
        DoorLine(server, client, now, "was dropped: a malformed hello");
        Drop(server, client, nullptr);
        return;
    }
    AccessRules rules = server.rules;
    rules.tcp = client.tcp;  // each listener its own rule: the lists, or the token
    Admission admission = Admit(rules, client.peer, hello);
    if (admission.access != PeerAccess::Refused) {
        Admitted(server, client, hello, admission, now);
        return;
    }
    char what[256];
    std::snprintf(what, sizeof what, "refused: %s", admission.reason);
    DoorLine(server, client, now, what);
    if (!admission.delayed) {
        Refuse(server, client, admission.reason);
        return;
    }
    client.state = ServeState::Refusing;
    client.refusal = admission.reason;
    client.deadline = now + WrongTokenDelayMilliseconds;
}

void Control(Server& server, ServeClient& client, const WireMessage& message) {
    WireControlMessage control;
    if (!ReadControl(message, &control)) {
        Drop(server, client, "a malformed control");
        return;
    }
    if (RosterInputFrom(server.roster, client.id) != InputAnswer::Write) {
        QueueText(server, client, WireType::Notice, WatcherHint(server, client.id));
        return;
    }
    char problem[200] = "";
    ControlResult result =
        server.hooks.control != nullptr
            ? server.hooks.control(server.hooks.user, control, client.id, problem, sizeof problem)
            : ControlResult::Unsupported;
    uint8_t out[WireHeaderSize + 2];
    if (Queue(server, client, out, PutControlDone(out, sizeof out, control.control, uint8_t(result))) &&
        problem[0] != '\0') {
        QueueText(server, client, WireType::Notice, problem);
    }
}

// One message from an admitted client. False when it ended the client.
bool Handle(Server& server, ServeClient& client, const WireMessage& message, int64_t now) {
    RoleChanges changes;
    if (client.state == ServeState::Active) RosterInput(server.roster, client.id, int64_t(time(nullptr)));
    switch (message.type) {
        case WireType::Hello:
            if (client.state != ServeState::Hello) break;
            Hello(server, client, message, now);
            return client.fd >= 0;
        case WireType::Data:
        case WireType::Typed:
        case WireType::TypedText:
            if (client.state != ServeState::Active) break;
            if (RosterInputFrom(server.roster, client.id) != InputAnswer::Write) {
                if (!client.toldWatching)
                    QueueText(server, client, WireType::Notice, WatcherHint(server, client.id));
                client.toldWatching = true;
                return client.fd >= 0;
            }
            std::memcpy(client.input.get(), message.payload, message.length);
            client.inputStart = 0;
            client.inputEnd = message.length;
            client.inputType = message.type;
            return true;
        case WireType::Control:
            if (client.state != ServeState::Active) break;
            Control(server, client, message);
            return client.fd >= 0;
        case WireType::Take: {
            if (client.state != ServeState::Active) break;
            unsigned kept = 0;
            TakeAnswer answer = RosterAskTake(server.roster, client.id, now, &kept, &changes);
            if (answer == TakeAnswer::Kept) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "the line is kept for the one who wrote before the server restarted, %u s more",
                              kept);
                QueueText(server, client, WireType::Notice, text);
            } else if (answer == TakeAnswer::WatchOnly) {
                QueueText(server, client, WireType::Notice, WatchOnly);
            } else {
                const RosterMember* m = RosterFind(server.roster, client.id);
                Log(server, "serve: %s took the line", m != nullptr ? m->name : "a client");
                Tell(server, changes);
            }
            return client.fd >= 0;
        }
        case WireType::Who:
            if (client.state != ServeState::Active) break;
            SendRoster(server, &client);
            return client.fd >= 0;
        case WireType::Give:
            if (client.state != ServeState::Active) break;
            if (RosterWrites(server.roster, client.id)) {
                const RosterMember* m = RosterFind(server.roster, client.id);
                Log(server, "serve: %s handed the line back", m != nullptr ? m->name : "a client");
            }
            RosterGive(server.roster, client.id, &changes);
            Tell(server, changes);
            return client.fd >= 0;
        default: break;
    }
    if (Waiting(client)) {
        DoorLine(server, client, now, "was dropped: a message it may not send before its hello");
        Drop(server, client, nullptr);
    } else {
        Drop(server, client, "a message it may not send");
    }
    return false;
}

void MoveInput(Server& server, ServeClient& client) {
    if (client.inputEnd == client.inputStart || server.hooks.send == nullptr) return;
    if (!RosterWrites(server.roster, client.id)) {  // the line was taken meanwhile
        client.inputStart = client.inputEnd = 0;
        return;
    }
    unsigned taken = server.hooks.send(server.hooks.user, client.input.get() + client.inputStart,
                                       client.inputEnd - client.inputStart, client.inputType);
    client.inputStart += taken;
    if (client.inputStart == client.inputEnd) client.inputStart = client.inputEnd = 0;
}

// Handles the messages the decoder holds while the client's input is free.
void Drain(Server& server, ServeClient& client, int64_t now) {
    while (client.fd >= 0 && client.inputEnd == 0 && client.state != ServeState::Refusing) {
        WireMessage message;
        const char* problem;
        WireStatus status = client.decoder->Next(&message, &problem);
        if (status == WireStatus::NeedMore) return;
        if (status == WireStatus::Error) {
            char what[160];
            std::snprintf(what, sizeof what, "sent %s and was dropped", problem);
            if (Waiting(client)) {
                DoorLine(server, client, now, what);
            } else {
                const RosterMember* member = RosterFind(server.roster, client.id);
                Log(server, "serve: %s %s", member != nullptr ? member->name : "a raw client", what);
            }
            Drop(server, client, nullptr);
            return;
        }
        if (!Handle(server, client, message, now)) return;
        // The line takes what it can now; the rest waits, and so does the client.
        MoveInput(server, client);
    }
}

// A client that said no hello watches raw where the rules allow it and a
// slot is free for one; otherwise it is dropped.
void BecomeRaw(Server& server, ServeClient& client, int64_t now, const char* what) {
    char line[160];
    if (!server.rules.rawWatch) {
        std::snprintf(line, sizeof line, "was dropped: %s (share-raw-watch is off)", what);
    } else if (!Seat(server, client, true)) {
        std::snprintf(line, sizeof line, "was dropped: %s, and no slot is free for a raw watcher", what);
    } else {
        client.state = ServeState::Raw;
        Log(server, "serve: a raw client watches");
        return;
    }
    DoorLine(server, client, now, line);
    Drop(server, client, nullptr);
}

// Reads what the client sent, as much as its decoder has room for.
void ReadClient(Server& server, ServeClient& client, int64_t now) {
    uint8_t bytes[4096];
    unsigned room = client.decoder->Room() < sizeof bytes ? client.decoder->Room() : unsigned(sizeof bytes);
    if (room == 0) return;  // a whole message waits for the line
    ssize_t got = recv(client.fd, bytes, room, MSG_DONTWAIT);
    if (got == 0) {
        Drop(server, client, client.state == ServeState::Active ? "it hung up" : nullptr);
        return;
    }
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            Drop(server, client, client.state == ServeState::Active ? std::strerror(errno) : nullptr);
        return;
    }
    client.silent = false;
    if (client.state == ServeState::Raw || client.state == ServeState::Refusing) return;  // never typed
    if (client.state == ServeState::Hello && client.decoder->Pending() == 0 &&
        bytes[0] != uint8_t(WireType::Hello)) {
        BecomeRaw(server, client, now, "a client without a hello");
        return;
    }
    client.decoder->Feed(bytes, unsigned(got));
    Drain(server, client, now);
}

// The snapshot, then the backlog, as far as the socket takes them. False
// when the client is gone.
bool WriteClient(ServeClient& client, const History& history) {
    for (;;) {
        if (client.stagingStart == client.stagingEnd && client.snapshot) {
            client.stagingStart = 0;
            client.stagingEnd =
                FillSnapshot(*client.snapshot, history, client.staging.get(), StagingCapacity);
            // Nothing more: it is done (every message fits the staging buffer whole).
            if (client.stagingEnd == 0) client.snapshot.reset();
        }
        if (client.stagingStart == client.stagingEnd) return ClientFlush(client);
        unsigned length = client.stagingEnd - client.stagingStart;
        ssize_t sent =
            send(client.fd, client.staging.get() + client.stagingStart, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        client.stagingStart += unsigned(sent);
        if (unsigned(sent) < length) return true;
    }
}

bool Pending(const ServeClient& client) {
    return client.stagingStart < client.stagingEnd || client.snapshot || !client.backlog.Empty();
}

// Sends a refusal to a connection that never got an entry, and closes it.
void RefuseAtDoor(int fd, const char* reason) {
    uint8_t message[WireHeaderSize + 256];
    ClientRefuse(fd, message, PutText(message, sizeof message, WireType::Refusal, reason));
}

// Turns a connection away at the door: logged (once a minute per peer), refused, closed.
void TurnAway(Server& server, const ServeClient& entry, int fd, int64_t now, const char* reason) {
    char what[160];
    std::snprintf(what, sizeof what, "refused: %s", reason);
    DoorLine(server, entry, now, what);
    RefuseAtDoor(fd, reason);
}

// Whether one more of `peer` may wait at the door. A peer that finds no
// room makes it by closing its own silent connection that waited longest
// (a hello is usually sent with the connection, so one that said nothing is
// idle); it never closes another peer's.
DoorRoom MakeRoom(Server& server, const DoorPeer& peer, int64_t now) {
    DoorPeer waiting[ServeEntries] = {};
    unsigned count = 0;
    ServeClient* idlest = nullptr;
    for (ServeClient& c : server.client) {
        if (!Waiting(c)) continue;
        waiting[count++] = c.door;
        if (SameDoorPeer(c.door, peer) && c.state == ServeState::Hello && c.silent &&
            (idlest == nullptr || c.since < idlest->since))
            idlest = &c;
    }
    DoorRoom room = DoorRoomFor(waiting, count, peer);
    if (room == DoorRoom::Room || idlest == nullptr) return room;
    DoorLine(server, *idlest, now, "was dropped: it said nothing, and more of theirs wait");
    Drop(server, *idlest, nullptr);
    return MakeRoom(server, peer, now);
}

void Accept(Server& server, const Share& listener, int64_t now) {
    for (;;) {
        AcceptedClient accepted;
        if (ClientAccept(listener.listener, !listener.unixSocket, &accepted) != ClientAccepted::Took) return;
        int fd = accepted.fd;
        ServeClient* entry = ClientFree(server.client);
        // The door's bounds leave an entry free: none only if they are broken.
        if (entry == nullptr) {
            close(fd);
            continue;
        }
        entry->tcp = !listener.unixSocket;
        entry->peer = listener.unixSocket ? ReadPeer(fd) : Peer{};
        if (listener.unixSocket) {
            std::snprintf(entry->from, sizeof entry->from, entry->peer.known ? "uid %u" : "uid ?",
                          unsigned(entry->peer.uid));
        } else {
            std::snprintf(entry->from, sizeof entry->from, "%s", accepted.address);
        }
        entry->door = listener.unixSocket
                          ? DoorPeerOfUser(entry->peer.known, entry->peer.uid)
                          : DoorPeerOfAddress(reinterpret_cast<sockaddr*>(&accepted.from), accepted.length);
        // The kernel has named a UNIX peer already: one the lists refuse never waits.
        if (listener.unixSocket && PeerAccessOf(server.rules, entry->peer) == PeerAccess::Refused) {
            const char* reason = entry->peer.known
                                     ? "your user is not on this line's share-write or share-watch list"
                                     : "the kernel would not say who you are";
            TurnAway(server, *entry, fd, now, reason);
            continue;
        }
        DoorRoom room = MakeRoom(server, entry->door, now);
        // A TCP client's token is not read while its address has its share
        // of tries waiting: a guess would be answered before its time.
        if (room != DoorRoom::Room && !listener.unixSocket) {
            const char* reason = room == DoorRoom::PeerFull
                                     ? "too many connections from your address wait to be let in"
                                     : "too many connections wait to be let in";
            TurnAway(server, *entry, fd, now, reason);
            continue;
        }
        entry->decoder.reset(new (std::nothrow) WireDecoder);
        if (!entry->decoder) {
            close(fd);
            Log(server, "serve: a client was refused: no memory");
            continue;
        }
        entry->fd = fd;
        entry->state = ServeState::Hello;
        entry->deadline = now + HelloWaitMilliseconds;
        entry->since = now;
        entry->silent = true;
        entry->toldWatching = false;
        entry->id = RosterNobody;
        // A hello sent with the connection is decided now. On a UNIX socket
        // one that came while the door was full still is (the peer is known
        // and listed, and nothing is guessed); one still to come is not waited for.
        ReadClient(server, *entry, now);
        if (room != DoorRoom::Room && Waiting(*entry)) {
            const char* reason = room == DoorRoom::PeerFull
                                     ? "too many connections of your user wait to be let in"
                                     : "too many connections wait to be let in";
            char what[160];
            std::snprintf(what, sizeof what, "refused: %s", reason);
            DoorLine(server, *entry, now, what);
            Refuse(server, *entry, reason);
        }
    }
}

}  // namespace

bool OpenServer(Server& server, const char* where, const AccessRules& rules, const ServeHooks& hooks,
                const History& history, char* message, unsigned capacity) {
    server.rules = rules;
    server.hooks = hooks;
    server.history = &history;
    ShareAddress address;
    const char* fault;
    bool twice = server.listeners == ServeMaxListeners;
    for (unsigned i = 0; i < server.listeners && ParseShareAddress(where, &address, &fault); ++i)
        twice = twice || server.listener[i].unixSocket == address.unixSocket;
    if (twice) {
        std::snprintf(message, capacity, "--share %s: a served line takes one unix: and one tcp: share",
                      where);
        return false;
    }
    Share& listener = server.listener[server.listeners];
    if (!OpenShare(listener, where, message, capacity)) return false;
    if (listener.unixSocket && chmod(listener.path, ShareSocketMode(rules)) != 0) {
        std::snprintf(message, capacity, "--share %s: cannot set its mode: %s", where, std::strerror(errno));
        CloseShare(listener);
        return false;
    }
    if (!server.gather) server.gather.reset(new (std::nothrow) uint8_t[GatherCapacity]);
    server.gathered = 0;
    if (!server.gather) {
        std::snprintf(message, capacity, "--share %s: no memory", where);
        CloseShare(listener);
        return false;
    }
    ++server.listeners;
    return true;
}

void CloseServer(Server& server) {
    SendGathered(server);
    for (ServeClient& c : server.client) {
        if (c.fd >= 0) {
            WriteClient(c, *server.history);  // what the socket takes now; never waits
            Drop(server, c, nullptr);
        }
    }
    for (unsigned i = 0; i < server.listeners; ++i) CloseShare(server.listener[i]);
    server.listeners = 0;
}

unsigned ServeDescriptors(Server& server, bool lineOpen, struct pollfd* fds, int64_t now) {
    if (server.listeners == 0) return 0;
    for (unsigned i = 0; i < ServeMaxListeners; ++i)
        fds[i] = {i < server.listeners ? server.listener[i].listener : -1, POLLIN, 0};
    // The line's bytes go once per pass at most, when enough are gathered or
    // they have waited long enough; everything else goes at once.
    bool due = server.sendNow || now >= server.sendDue;
    server.sendNow = false;
    if (due) {
        server.gathering = false;
        server.sendDue = INT64_MAX;
    }
    if (due || server.gathered >= ServeGatherBytes) SendGathered(server);
    for (unsigned i = 0; i < ServeEntries; ++i) {
        ServeClient& c = server.client[i];
        bool write = due || c.socketFull || c.backlog.Used() >= ServeGatherBytes || c.snapshot ||
                     c.stagingStart < c.stagingEnd;
        if (c.fd >= 0 && c.state != ServeState::Refusing && write) {
            if (!WriteClient(c, *server.history)) {
                Drop(server, c, "it hung up");
            } else {
                c.socketFull = Pending(c);
            }
        }
        if (c.fd >= 0 && c.state == ServeState::Active && lineOpen) {
            MoveInput(server, c);
            Drain(server, c, now);
        }
        short events = 0;
        if (c.fd >= 0 && c.inputEnd == 0 && (lineOpen || c.state != ServeState::Active)) events |= POLLIN;
        if (c.fd >= 0 && c.socketFull && c.state != ServeState::Refusing) events |= POLLOUT;
        fds[ServeMaxListeners + i] = {events != 0 ? c.fd : -1, events, 0};
    }
    // Nothing gathered: a client with nothing waiting shares the next gathering.
    for (ServeClient& c : server.client) {
        if (server.gathered == 0 && c.fd >= 0 && c.state == ServeState::Active && !Pending(c) &&
            server.gather)
            c.inStep = true;
    }
    if (server.gathering && server.sendDue == INT64_MAX) server.sendDue = now + ServeGatherMilliseconds;
    return ServeMaxDescriptors;
}

void ServeEvents(Server& server, bool lineOpen, const struct pollfd* fds, unsigned count, int64_t now) {
    if (server.listeners == 0 || count < ServeMaxDescriptors) return;
    for (unsigned i = 0; i < ServeEntries; ++i) {
        ServeClient& c = server.client[i];
        short events = fds[ServeMaxListeners + i].revents;
        if (c.fd < 0 || fds[ServeMaxListeners + i].fd != c.fd || events == 0) continue;
        if ((events & (POLLOUT | POLLERR | POLLHUP)) && c.state != ServeState::Refusing) {
            if (!WriteClient(c, *server.history)) {
                Drop(server, c, "it hung up");
                continue;
            }
            c.socketFull = Pending(c);
        }
        if (c.inputEnd == 0 && (lineOpen || c.state != ServeState::Active) &&
            (events & (POLLIN | POLLERR | POLLHUP))) {
            ReadClient(server, c, now);
        }
    }
    for (unsigned i = 0; i < server.listeners; ++i) {
        if (fds[i].revents & POLLIN) Accept(server, server.listener[i], now);
    }
}

int64_t ServeDue(const Server& server) {
    int64_t due = INT64_MAX;
    for (const ServeClient& c : server.client) {
        if (c.fd >= 0 && (c.state == ServeState::Hello || c.state == ServeState::Refusing) &&
            c.deadline < due) {
            due = c.deadline;
        }
    }
    return server.sendDue < due ? server.sendDue : due;
}

void ServeTimers(Server& server, int64_t now) {
    for (ServeClient& c : server.client) {
        if (c.fd < 0 || now < c.deadline) continue;
        if (c.state == ServeState::Refusing) {
            Refuse(server, c, c.refusal);
        } else if (c.state == ServeState::Hello && c.decoder->Pending() == 0) {
            BecomeRaw(server, c, now, "a client without a hello in time");
        } else if (c.state == ServeState::Hello) {
            DoorLine(server, c, now, "was dropped: its hello did not come whole in time");
            Drop(server, c, nullptr);
        }
    }
}

void ServeReceived(Server& server, const uint8_t* bytes, unsigned count) {
    if (ServeClients(server) > 0) server.gathering = true;
    bool late[ServeEntries] = {};
    ClientFanOut(
        server.client, [](const ServeClient& c) { return c.state == ServeState::Raw; }, bytes, count, late);
    for (unsigned i = 0; i < ServeEntries; ++i) {
        if (late[i]) Drop(server, server.client[i], "it did not keep up");
    }
    uint8_t header[WireHeaderSize];
    for (unsigned at = 0; at < count;) {
        unsigned n = count - at < WireMaxPayload ? count - at : WireMaxPayload;
        PutHeader(header, WireType::Data, n);
        if (server.gathered + WireHeaderSize + n > GatherCapacity) SendGathered(server);
        // Gathered first: a drop below tells the others, and one that leaves
        // step for that takes this piece with it.
        for (ServeClient& c : server.client) {
            if (c.fd < 0 || c.state != ServeState::Active || !c.inStep) continue;
            std::memcpy(server.gather.get() + server.gathered, header, WireHeaderSize);
            std::memcpy(server.gather.get() + server.gathered + WireHeaderSize, bytes + at, n);
            server.gathered += WireHeaderSize + n;
            break;
        }
        // Drops after, as for a shared send: none may leave step halfway.
        // Header and payload whole, or the client is dropped.
        bool full[ServeEntries] = {};
        ClientFanOut(
            server.client, [](const ServeClient& c) { return c.state == ServeState::Active && !c.inStep; },
            header, WireHeaderSize, full, bytes + at, n);
        for (unsigned i = 0; i < ServeEntries; ++i) {
            if (full[i]) Drop(server, server.client[i], "it did not keep up");
        }
        at += n;
    }
}

void ServeLineState(Server& server, const WireLineState& state) {
    server.line = state;
    static uint8_t message[WireHeaderSize + 1 + 2 + 3 * 256];
    unsigned length = PutLineState(message, sizeof message, state);
    for (ServeClient& c : server.client) {
        if (c.fd >= 0 && c.state == ServeState::Active) Queue(server, c, message, length);
    }
}

void ServeScriptBegins(Server& server, int64_t since) {
    if (server.script != RosterNobody) return;
    RoleChanges changes;
    server.script = RosterJoin(server.roster, SeatKind::Script, WireClientKind::Script, "script", since, true,
                               WireAsk::Write, &changes);
    RosterSetFrom(server.roster, server.script, "the server");
    // A script finds the line held: it waits for it, paused.
    if (server.script != RosterNobody && !RosterWrites(server.roster, server.script) &&
        server.hooks.scriptWrites != nullptr) {
        server.hooks.scriptWrites(server.hooks.user, false);
    }
    Tell(server, changes);
}

void ServeScriptEnds(Server& server) {
    if (server.script == RosterNobody) return;
    RoleChanges changes;
    uint16_t script = server.script;
    server.script = RosterNobody;
    RosterLeave(server.roster, script, &changes);
    Tell(server, changes);
}

bool ServeScriptWrites(const Server& server) {
    return server.script == RosterNobody || RosterWrites(server.roster, server.script);
}

uint16_t ServePageJoins(Server& server, const char* name, int64_t since, bool mayWrite) {
    return ServeMemberJoins(server, SeatKind::Page, name, since, mayWrite);
}

uint16_t ServeMemberJoins(Server& server, SeatKind seat, const char* name, int64_t since, bool granted) {
    RoleChanges changes;
    // As an attached client: the first with the right to write gets a free line.
    WireAsk ask =
        RosterAskAfterRestart(server.roster, WireAsk::Write, WirePast::Fresh, MonotonicMilliseconds());
    WireClientKind kind = seat == SeatKind::Page ? WireClientKind::Browser : WireClientKind::Person;
    uint16_t id = RosterJoin(server.roster, seat, kind, name, since, granted, ask, &changes);
    if (id == RosterNobody) return id;
    RosterSetFrom(server.roster, id, name);  // a page's or port client's name is where it is
    Log(server, "serve: %s attached, %s", name, RosterWrites(server.roster, id) ? "writing" : "watching");
    Tell(server, changes);
    return id;
}

void ServeMemberInput(Server& server, uint16_t id) { RosterInput(server.roster, id, int64_t(time(nullptr))); }

void ServePageLeaves(Server& server, uint16_t id) {
    const RosterMember* m = RosterFind(server.roster, id);
    if (m == nullptr || m->seat != SeatKind::Page) return;
    ServeMemberLeaves(server, id);
}

void ServeMemberLeaves(Server& server, uint16_t id) {
    const RosterMember* m = RosterFind(server.roster, id);
    if (m == nullptr) return;
    Log(server, "serve: %s left", m->name);
    RoleChanges changes;
    RosterLeave(server.roster, id, &changes);
    Tell(server, changes);
}

bool ServePageTakes(Server& server, uint16_t id) {
    const RosterMember* m = RosterFind(server.roster, id);
    RoleChanges changes;
    unsigned kept = 0;
    if (m == nullptr || m->seat != SeatKind::Page ||
        RosterAskTake(server.roster, id, MonotonicMilliseconds(), &kept, &changes) != TakeAnswer::Taken)
        return false;
    RosterInput(server.roster, id, int64_t(time(nullptr)));
    Log(server, "serve: %s took the line", m->name);
    Tell(server, changes);
    return true;
}

unsigned ServeClients(const Server& server) {
    unsigned count = 0;
    for (const ServeClient& c : server.client) {
        if (c.fd >= 0 && (c.state == ServeState::Active || c.state == ServeState::Raw)) ++count;
    }
    return count;
}
