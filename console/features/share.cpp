#include "console/features/share.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "console/rules/text_rules.h"

namespace {

// Connections wait here until accepted: room for the door's waiting ones
// and more, so a peer that opens many cannot fill it before the loop accepts
// (a client's connect would fail with EAGAIN meanwhile).
const int ListenBacklog = 64;

bool Fail(char* message, unsigned capacity, const char* text, const char* what, int error) {
    std::snprintf(message, capacity, "--share %s: %s: %s", text, what, std::strerror(error));
    return false;
}

// A socket file at `path` that nobody listens on is left from an earlier
// run and may go; anything else stays and is reported.
bool ClearStaleSocket(const char* text, const char* path, char* message, unsigned capacity) {
    struct stat status;
    if (lstat(path, &status) != 0)
        return errno == ENOENT || Fail(message, capacity, text, "cannot look at it", errno);
    if (!S_ISSOCK(status.st_mode)) {
        std::snprintf(message, capacity,
                      "--share %s: the file exists and is not a socket (name another path)", text);
        return false;
    }
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return Fail(message, capacity, text, "socket", errno);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path, std::strlen(path));
    int result = connect(probe, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
    int error = errno;
    close(probe);
    if (result == 0) {
        std::snprintf(message, capacity, "--share %s: another program listens there", text);
        return false;
    }
    if (error != ECONNREFUSED) return Fail(message, capacity, text, "cannot check the old socket", error);
    if (unlink(path) != 0) return Fail(message, capacity, text, "cannot remove the old socket", errno);
    return true;
}

bool ListenUnix(Share& share, const char* text, const ShareAddress& at, char* message, unsigned capacity) {
    if (!ClearStaleSocket(text, at.path, message, capacity)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(message, capacity, text, "socket", errno);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, at.path, std::strlen(at.path));
    mode_t mask = umask(0177);  // made 0600: whoever connects can type
    int bound = bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
    int error = errno;
    umask(mask);
    struct stat status;
    if (bound != 0 || listen(fd, ListenBacklog) != 0 || stat(at.path, &status) != 0) {
        if (bound == 0) {
            error = errno;
            unlink(at.path);
        }
        close(fd);
        return Fail(message, capacity, text, "cannot listen", error);
    }
    share.listener = fd;
    share.unixSocket = true;
    std::snprintf(share.path, sizeof share.path, "%s", at.path);
    share.device = status.st_dev;
    share.inode = status.st_ino;
    return true;
}

bool ListenTcp(Share& share, const char* text, const ShareAddress& at, char* message, unsigned capacity) {
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    struct addrinfo* found = nullptr;
    int lookup = getaddrinfo(at.host, at.port, &hints, &found);
    if (lookup != 0) {
        std::snprintf(message, capacity, "--share %s: %s", text, gai_strerror(lookup));
        return false;
    }
    int error = 0;
    for (struct addrinfo* a = found; a != nullptr; a = a->ai_next) {
        int fd = socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = errno;
            continue;
        }
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, ListenBacklog) == 0) {
            share.listener = fd;
            break;
        }
        error = errno;
        close(fd);
    }
    freeaddrinfo(found);
    return share.listener >= 0 || Fail(message, capacity, text, "cannot listen", error);
}

void Drop(Share& share, ShareClient& client) {
    ClientClose(client);
    client.inputStart = client.inputEnd = 0;
    --share.clients;
    share.acceptPaused = false;
}

void Accept(Share& share, Notice& notice) {
    for (;;) {
        AcceptedClient accepted;
        ClientAccepted took = ClientAccept(share.listener, !share.unixSocket, &accepted);
        if (took == ClientAccepted::NoRoom) {
            // The connection stays queued and the listener readable: wait for a client to leave
            // rather than wake for it again and again.
            share.acceptPaused = true;
            Say(notice, "share: cannot take a client now: %s", std::strerror(errno));
        }
        if (took != ClientAccepted::Took) return;
        int fd = accepted.fd;
        ShareClient* free = ClientFree(share.client);
        if (free == nullptr || !ClientSeat(*free)) {
            close(fd);
            Say(notice,
                free == nullptr ? "share: a client was refused (%u connected already)"
                                : "share: a client was refused (no memory for %u clients)",
                share.clients + (free == nullptr ? 0 : 1));
            continue;
        }
        free->fd = fd;
        free->inputStart = free->inputEnd = 0;
        ++share.clients;
    }
}

// False when the client is gone.
bool ReadClient(ShareClient& client) {
    ssize_t got = recv(client.fd, client.input, sizeof client.input, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.inputStart = 0;
    client.inputEnd = unsigned(got);
    return true;
}

// As much of the client's input as the line takes now.
void MoveInput(ShareClient& client, ShareTargets& targets) {
    unsigned waiting = client.inputEnd - client.inputStart;
    if (waiting == 0) return;
    client.inputStart += targets.send(targets.user, client.input + client.inputStart, waiting);
    if (client.inputStart == client.inputEnd) client.inputStart = client.inputEnd = 0;
}

}  // namespace

bool OpenShare(Share& share, const char* text, char* message, unsigned capacity) {
    ShareAddress address;
    const char* problem;
    if (!ParseShareAddress(text, &address, &problem)) {
        std::snprintf(message, capacity, "--share %s: %s", text, problem);
        return false;
    }
    return address.unixSocket ? ListenUnix(share, text, address, message, capacity)
                              : ListenTcp(share, text, address, message, capacity);
}

void CloseShare(Share& share) {
    for (ShareClient& client : share.client) {
        if (client.fd >= 0) Drop(share, client);
    }
    if (share.listener < 0) return;
    close(share.listener);
    share.listener = -1;
    struct stat status;
    // Only our own socket: another run may have replaced it meanwhile.
    if (share.unixSocket && lstat(share.path, &status) == 0 && status.st_dev == share.device &&
        status.st_ino == share.inode) {
        unlink(share.path);
    }
}

Share::~Share() { CloseShare(*this); }

unsigned ShareDescriptors(Share& share, ShareTargets& targets, struct pollfd* fds) {
    if (share.listener < 0) return 0;
    fds[0] = {share.acceptPaused ? -1 : share.listener, POLLIN, 0};
    for (unsigned i = 0; i < ShareMaxClients; ++i) {
        ShareClient& client = share.client[i];
        if (client.fd >= 0 && !ClientFlush(client)) Drop(share, client);
        if (client.fd >= 0 && targets.lineOpen) MoveInput(client, targets);
        short events = 0;
        if (client.fd >= 0 && targets.lineOpen && client.inputEnd == 0) events |= POLLIN;
        if (client.fd >= 0 && !client.backlog.Empty()) events |= POLLOUT;
        // A client waited on for nothing is left out, or its hang-up would wake the loop
        // again and again.
        fds[1 + i] = {events != 0 ? client.fd : -1, events, 0};
    }
    return ShareMaxDescriptors;
}

void ServeShare(Share& share, ShareTargets& targets, const struct pollfd* fds, unsigned count) {
    if (share.listener < 0 || count < ShareMaxDescriptors) return;
    for (unsigned i = 0; i < ShareMaxClients; ++i) {
        ShareClient& client = share.client[i];
        short events = fds[1 + i].revents;
        if (client.fd < 0 || fds[1 + i].fd != client.fd || events == 0) continue;
        bool alive = true;
        if (events & (POLLOUT | POLLERR | POLLHUP)) alive = ClientFlush(client);
        if (alive && targets.lineOpen && client.inputEnd == 0 && (events & (POLLIN | POLLERR | POLLHUP))) {
            alive = ReadClient(client);
            if (alive) MoveInput(client, targets);
        }
        if (!alive) Drop(share, client);
    }
    if (fds[0].revents & POLLIN) Accept(share, targets.notice);
}

void ShareReceived(Share& share, Notice& notice, const uint8_t* bytes, unsigned count) {
    if (share.clients == 0) return;
    // Sent once a pass (ShareDescriptors), not once a read: fewer calls and wake-ups.
    bool full[ShareMaxClients] = {};
    ClientFanOut(
        share.client, [](const ShareClient&) { return true; }, bytes, count, full);
    for (unsigned i = 0; i < ShareMaxClients; ++i) {
        if (!full[i]) continue;
        Drop(share, share.client[i]);
        Say(notice, "share: a client did not keep up and was dropped");
    }
}
