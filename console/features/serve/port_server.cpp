#include "console/features/serve/port_server.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void Log(PortServer& server, const char* format, const char* a, const char* b = "") {
    char text[256];
    std::snprintf(text, sizeof text, format, a, b);
    if (server.hooks.say != nullptr) server.hooks.say(server.hooks.user, text);
}

bool Loopback(const char* host) {
    return std::strncmp(host, "127.", 4) == 0 || std::strcmp(host, "::1") == 0 ||
           std::strcmp(host, "[::1]") == 0 || std::strcmp(host, "localhost") == 0;
}

void Drop(PortServer& server, PortClient& client, const char* why) {
    if (why != nullptr) Log(server, "serve: %s %s", client.name, why);
    ClientClose(client);
    client.protocol.reset();
    client.inputStart = client.inputEnd = 0;
    if (client.member != 0 && server.hooks.leave != nullptr)
        server.hooks.leave(server.hooks.user, client.member);
    client.member = 0;
}

// The protocol's own bytes (answers, offers) go in order with the line's.
bool MoveProtocolOutput(PortClient& client) {
    ComPortServer& p = *client.protocol;
    if (p.OutputLength() == 0) return true;
    if (!ClientQueue(client, p.Output(), p.OutputLength())) return false;
    p.Consumed(p.OutputLength());
    return true;
}

// The last bytes received, oldest first, as the client's first bytes.
bool Replay(PortServer& server, PortClient& client) {
    if (server.replayCount == 0) return true;
    unsigned start = (server.replayHead + server.replaySize - server.replayCount) % server.replaySize;
    for (unsigned done = 0; done < server.replayCount;) {
        unsigned piece = server.replayCount - done;
        unsigned at = (start + done) % server.replaySize;
        if (piece > server.replaySize - at) piece = server.replaySize - at;
        const uint8_t* bytes = server.replay.get() + at;
        if (!client.telnet) {
            if (!ClientQueue(client, bytes, piece)) return false;
            done += piece;
            continue;
        }
        uint8_t escaped[2048];
        unsigned taken = 0;
        unsigned length = ComPortServer::EscapeData(bytes, piece, escaped, sizeof escaped, &taken);
        if (!ClientQueue(client, escaped, length)) return false;
        done += taken;
    }
    return true;
}

void Accept(PortServer& server, PortAccepter& accepter) {
    for (;;) {
        AcceptedClient accepted;
        if (ClientAccept(accepter.listener.listener, true, &accepted) != ClientAccepted::Took) return;
        int fd = accepted.fd;
        PortClient* free = ClientFree(server.client);
        char name[64];
        std::snprintf(name, sizeof name, "%s %.55s", accepter.telnet ? "rfc2217" : "tcp-raw",
                      accepted.address);
        // Seats of their own: they carry no identity (roster.h).
        if (free == nullptr || !RosterSeatFree(SeatKind::Port, PortClients(server)) || !ClientSeat(*free)) {
            static const char full[] = "brisvane: refused: the served line has all its port clients\r\n";
            ClientRefuse(fd, reinterpret_cast<const uint8_t*>(full), sizeof full - 1);
            Log(server, "serve: %s refused: %s", name,
                free == nullptr ? "every port client slot is taken" : "no memory for its backlog");
            continue;
        }
        uint16_t member = server.hooks.join(server.hooks.user, name, server.mayWrite);
        if (member == 0) {
            free->backlog.Release();
            close(fd);
            Log(server, "serve: %s refused: %s", name, "the roster is full");
            continue;
        }
        PortClient& c = *free;
        c.fd = fd;
        c.telnet = accepter.telnet;
        c.member = member;
        c.toldWatching = false;
        c.inputStart = c.inputEnd = 0;
        std::snprintf(c.name, sizeof c.name, "%s", name);
        if (c.telnet) c.protocol.reset(new ComPortServer());
        if ((c.telnet && !MoveProtocolOutput(c)) || !Replay(server, c)) {
            Drop(server, c, "was dropped: its replay does not fit its backlog");
            continue;
        }
    }
}

// The writer's data, as far as the line takes it.
void MoveInput(PortServer& server, PortClient& client) {
    unsigned waiting = client.inputEnd - client.inputStart;
    if (waiting == 0) return;
    client.inputStart += server.hooks.send(server.hooks.user, client.input + client.inputStart, waiting);
    if (client.inputStart == client.inputEnd) client.inputStart = client.inputEnd = 0;
}

void Watching(PortServer& server, PortClient& client) {
    if (client.toldWatching) return;
    client.toldWatching = true;
    Log(server, "serve: %s may only watch: its bytes and port requests reach nothing", client.name);
}

// False when the client is gone or broke its protocol's bounds.
bool ReadClient(PortServer& server, PortClient& client) {
    uint8_t bytes[PortInputCapacity];
    ssize_t got = recv(client.fd, bytes, sizeof bytes, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    bool writes = server.hooks.writes(server.hooks.user, client.member);
    if (server.hooks.input != nullptr) server.hooks.input(server.hooks.user, client.member);
    unsigned count = unsigned(got), data = count;
    if (client.telnet) {
        // The answers go to the backlog as they come, so the protocol's
        // fixed buffer always has room for the next ones.
        data = 0;
        for (unsigned offset = 0; offset < count;) {
            unsigned pieceData = 0;
            unsigned taken =
                client.protocol->Receive(bytes + offset, count - offset, bytes + data, &pieceData);
            data += pieceData;
            offset += taken;
            ComPortRequest request;
            while (client.protocol->TakeRequest(&request)) {
                if (request.command == ComPortCommand::Signature) {
                    client.protocol->AnswerSignature("brisvane");
                } else {
                    if (!writes) Watching(server, client);
                    uint32_t value = server.hooks.request(server.hooks.user, request, writes, client.name);
                    client.protocol->Answer(request.command, value);
                }
                if (!MoveProtocolOutput(client)) return false;
            }
            if (!MoveProtocolOutput(client)) return false;
            if (taken == 0 && client.protocol->OutputLength() == 0) return false;  // cannot happen
        }
        if (client.protocol->TakeDiscarded())
            Log(server, "serve: %s sent a subnegotiation too long to keep", client.name);
    }
    if (data == 0) return true;
    if (!writes) {
        Watching(server, client);
        return true;
    }
    std::memcpy(client.input, bytes, data);
    client.inputStart = 0;
    client.inputEnd = data;
    MoveInput(server, client);
    return true;
}

void Remember(PortServer& server, const uint8_t* bytes, unsigned count) {
    if (server.replaySize == 0) return;
    if (count > server.replaySize) {
        bytes += count - server.replaySize;
        count = server.replaySize;
    }
    while (count > 0) {
        unsigned piece = server.replaySize - server.replayHead;
        if (piece > count) piece = count;
        std::memcpy(server.replay.get() + server.replayHead, bytes, piece);
        server.replayHead = (server.replayHead + piece) % server.replaySize;
        bytes += piece;
        count -= piece;
        server.replayCount =
            server.replayCount + piece > server.replaySize ? server.replaySize : server.replayCount + piece;
    }
}

}  // namespace

bool PortAddressAllowed(const char* where, bool open, char* message, unsigned capacity) {
    bool telnet = std::strncmp(where, "rfc2217:", 8) == 0;
    if (!telnet && std::strncmp(where, "tcp-raw:", 8) != 0) {
        std::snprintf(message, capacity, "--share %s: not rfc2217:[HOST:]PORT or tcp-raw:[HOST:]PORT", where);
        return false;
    }
    char tcp[96];
    std::snprintf(tcp, sizeof tcp, "tcp:%s", where + 8);
    ShareAddress address;
    const char* problem;
    if (!ParseShareAddress(tcp, &address, &problem)) {
        std::snprintf(message, capacity, "--share %s: %s", where, problem);
        return false;
    }
    if (!open && !Loopback(address.host)) {
        std::snprintf(message, capacity,
                      "--share %s: a port accepter carries no token: it listens beyond 127.0.0.1 only on a "
                      "trusted network, with share-rfc2217-open = yes in the profile",
                      where);
        return false;
    }
    return true;
}

bool OpenPortAccepter(PortServer& server, const char* where, bool open, char* message, unsigned capacity) {
    if (!PortAddressAllowed(where, open, message, capacity)) return false;
    if (server.accepters == PortMaxAccepters) {
        std::snprintf(message, capacity, "--share %s: at most %u port accepters", where, PortMaxAccepters);
        return false;
    }
    bool telnet = std::strncmp(where, "rfc2217:", 8) == 0;
    char tcp[96];
    std::snprintf(tcp, sizeof tcp, "tcp:%s", where + 8);
    PortAccepter& accepter = server.accepter[server.accepters];
    char problem[256];
    if (!OpenShare(accepter.listener, tcp, problem, sizeof problem)) {
        const char* why = std::strrchr(problem, ':');  // the reason, after the share's own form
        std::snprintf(message, capacity, "--share %s: cannot listen%s", where, why != nullptr ? why : "");
        return false;
    }
    accepter.telnet = telnet;
    std::snprintf(accepter.where, sizeof accepter.where, "%s", where);
    ++server.accepters;
    return true;
}

bool StartPortServer(PortServer& server, const PortHooks& hooks, bool mayWrite, unsigned replay) {
    server.hooks = hooks;
    server.mayWrite = mayWrite;
    server.escaped.reset(new (std::nothrow) uint8_t[2 * 65536]);
    if (!server.escaped) return false;
    if (replay > PortReplayMax) replay = PortReplayMax;
    if (replay > 0) {
        server.replay.reset(new (std::nothrow) uint8_t[replay]);
        if (!server.replay) return false;
    }
    server.replaySize = replay;
    server.replayHead = server.replayCount = 0;
    return true;
}

void ClosePortServer(PortServer& server) {
    for (PortClient& c : server.client) {
        if (c.fd >= 0) Drop(server, c, nullptr);
    }
    for (unsigned i = 0; i < server.accepters; ++i) CloseShare(server.accepter[i].listener);
    server.accepters = 0;
}

unsigned PortDescriptors(PortServer& server, bool lineOpen, struct pollfd* fds) {
    if (server.accepters == 0) return 0;
    for (unsigned i = 0; i < PortMaxAccepters; ++i) {
        fds[i] = {i < server.accepters ? server.accepter[i].listener.listener : -1, POLLIN, 0};
    }
    for (unsigned i = 0; i < PortMaxClients; ++i) {
        PortClient& c = server.client[i];
        if (c.fd >= 0 && !ClientFlush(c)) Drop(server, c, nullptr);
        if (c.fd >= 0 && lineOpen) MoveInput(server, c);
        short events = 0;
        if (c.fd >= 0 && c.inputEnd == 0) events |= POLLIN;
        if (c.fd >= 0 && !c.backlog.Empty()) events |= POLLOUT;
        fds[PortMaxAccepters + i] = {events != 0 ? c.fd : -1, events, 0};
    }
    return PortMaxDescriptors;
}

void PortEvents(PortServer& server, bool lineOpen, const struct pollfd* fds, unsigned count) {
    if (server.accepters == 0 || count < PortMaxDescriptors) return;
    for (unsigned i = 0; i < PortMaxClients; ++i) {
        PortClient& c = server.client[i];
        short events = fds[PortMaxAccepters + i].revents;
        if (c.fd < 0 || fds[PortMaxAccepters + i].fd != c.fd || events == 0) continue;
        bool alive = true;
        if (events & (POLLOUT | POLLERR | POLLHUP)) alive = ClientFlush(c);
        if (alive && c.inputEnd == 0 && (events & (POLLIN | POLLERR | POLLHUP))) {
            alive = ReadClient(server, c);
            if (alive && lineOpen) MoveInput(server, c);
        }
        if (!alive) Drop(server, c, nullptr);
    }
    for (unsigned i = 0; i < server.accepters; ++i) {
        if (fds[i].revents & POLLIN) Accept(server, server.accepter[i]);
    }
}

void PortReceived(PortServer& server, const uint8_t* bytes, unsigned count) {
    Remember(server, bytes, count);
    for (unsigned done = 0; done < count;) {
        unsigned piece = count - done, escapedLength = 0, taken = piece;
        bool anyTelnet = false;
        for (const PortClient& c : server.client) anyTelnet = anyTelnet || (c.fd >= 0 && c.telnet);
        if (anyTelnet) {
            escapedLength =
                ComPortServer::EscapeData(bytes + done, piece, server.escaped.get(), 2 * 65536, &taken);
        }
        bool full[PortMaxClients] = {};
        ClientFanOut(
            server.client, [](const PortClient& c) { return c.telnet; }, server.escaped.get(), escapedLength,
            full);
        ClientFanOut(
            server.client, [](const PortClient& c) { return !c.telnet; }, bytes + done, taken, full);
        for (unsigned i = 0; i < PortMaxClients; ++i) {
            if (full[i]) Drop(server, server.client[i], "did not keep up and was dropped");
        }
        done += taken;
    }
}

unsigned PortClients(const PortServer& server) {
    unsigned n = 0;
    for (const PortClient& c : server.client) n += c.fd >= 0;
    return n;
}

bool PortWantsState(const PortServer& server) {
    for (const PortClient& c : server.client) {
        if (c.fd >= 0 && c.telnet && c.protocol->WantsState()) return true;
    }
    return false;
}

void PortLineState(PortServer& server, uint8_t modem, uint8_t line) {
    server.modem = modem;
    for (PortClient& c : server.client) {
        if (c.fd < 0 || !c.telnet) continue;
        if (!c.protocol->NotifyModem(modem) || !c.protocol->NotifyLine(line) || !MoveProtocolOutput(c))
            Drop(server, c, "did not keep up and was dropped");
    }
}
