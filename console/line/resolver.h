// Host names looked up off the caller's thread, so a slow name server never
// freezes the screen. Start hands the name to a thread of its own, which
// posts the addresses (or getaddrinfo's error) as one message on a socket;
// the caller polls Descriptor() for POLLIN and then calls Finish. Cancel, a
// new Start or the destructor abandons a lookup: its thread ends on its own
// and its result goes nowhere.
#ifndef BRISVANE_CONSOLE_RESOLVER_H
#define BRISVANE_CONSOLE_RESOLVER_H

#include <cstdint>
#include <sys/socket.h>

struct ResolvedAddresses {
    static constexpr unsigned Capacity = 8;
    int error;  // getaddrinfo's code; 0 with count > 0 when found
    unsigned count;
    sockaddr_storage address[Capacity];
    socklen_t length[Capacity];
};

class Resolver {
public:
    Resolver() : fd_(-1) {}
    ~Resolver() { Cancel(); }
    Resolver(const Resolver&) = delete;
    Resolver& operator=(const Resolver&) = delete;

    // Starts looking `host` up for a TCP `port`. Where no thread can be made
    // (or several earlier lookups still hang) the result is EAI_AGAIN at
    // once: this thread never waits on a name server. False (with errno)
    // only when not even the socket could be made.
    bool Start(const char* host, uint16_t port);
    // -1 when no lookup is under way.
    int Descriptor() const { return fd_; }
    // True with *result once the lookup is over (the lookup is then done
    // with); false while it goes on.
    bool Finish(ResolvedAddresses* result);
    void Cancel();

private:
    int fd_;
};

#endif
