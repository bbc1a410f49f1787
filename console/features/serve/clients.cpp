#include "console/features/serve/clients.h"

#include <cerrno>
#include <cstdio>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

ClientAccepted ClientAccept(int listener, bool tcp, AcceptedClient* accepted) {
    accepted->length = sizeof accepted->from;
    accepted->fd = accept4(listener, reinterpret_cast<struct sockaddr*>(&accepted->from), &accepted->length,
                           SOCK_NONBLOCK | SOCK_CLOEXEC);
    accepted->address[0] = '\0';
    if (accepted->fd < 0)
        return errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM
                   ? ClientAccepted::NoRoom
                   : ClientAccepted::None;
    if (tcp) {
        char host[NI_MAXHOST] = "?", port[NI_MAXSERV] = "?";
        getnameinfo(reinterpret_cast<struct sockaddr*>(&accepted->from), accepted->length, host, sizeof host,
                    port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV);
        std::snprintf(accepted->address, sizeof accepted->address,
                      accepted->from.ss_family == AF_INET6 ? "[%s]:%s" : "%s:%s", host, port);
        int on = 1;
        setsockopt(accepted->fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    // As much as the system allows up to this; less only means less slack.
    int buffer = ClientSocketBuffer;
    setsockopt(accepted->fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    return ClientAccepted::Took;
}

bool ClientSeat(ClientSocket& client) { return client.backlog.Allocate(ClientBacklog); }

void ClientClose(ClientSocket& client) {
    if (client.fd >= 0) close(client.fd);
    client.fd = -1;
    client.backlog.Release();
}

bool ClientQueue(ClientSocket& client, const uint8_t* bytes, unsigned count, const uint8_t* more,
                 unsigned moreCount) {
    if (client.backlog.Room() < count + moreCount) return false;
    return client.backlog.Append(bytes, count) && (moreCount == 0 || client.backlog.Append(more, moreCount));
}

bool ClientFlush(ClientSocket& client) {
    while (!client.backlog.Empty()) {
        unsigned length;
        const uint8_t* bytes = client.backlog.Front(&length);
        ssize_t sent = send(client.fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        client.backlog.Consume(unsigned(sent));
    }
    return true;
}

void ClientRefuse(int fd, const uint8_t* bytes, unsigned count) {
    // A few bytes into an empty socket: they go, or the client is gone anyway.
    (void)!send(fd, bytes, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    close(fd);
}
