// A served line's client for the benchmark: cheap, so that what is measured
// is the server. It says hello with the program's own encoder, checks every
// message's header against the wire's limits, and never waits without a
// deadline.
//
//   attach_reader flood PATH COUNT SECONDS
//       says hello as a watcher, reads the snapshot, prints "attached", then
//       counts the payload bytes of Data messages until it has COUNT; prints
//       "COUNT USER SYSTEM" (bytes, its own processor seconds). Exit 1 when
//       the server hung up first (it was dropped), 2 on the deadline.
//   attach_reader churn PATH CYCLES
//       connects and leaves CYCLES times, in turn: attached fully (the whole
//       snapshot read), gone mid-snapshot, a raw client that says nothing,
//       half a hello. Prints "CYCLES cycles".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "console/rules/wire.h"

namespace {

int64_t Now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

double Seconds(const struct timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

int Connect(const char* path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    if (fd < 0 || connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "attach_reader: %s: %s\n", path, std::strerror(errno));
        std::exit(3);
    }
    return fd;
}

unsigned Hello(uint8_t* out, unsigned capacity) {
    WireHello hello = {};
    hello.version = WireVersion;
    hello.ask = WireAsk::Watch;
    hello.kind = WireClientKind::Person;
    std::snprintf(hello.name.text, sizeof hello.name.text, "bench");
    hello.name.length = 5;
    return PutHello(out, capacity, hello);
}

void SendAll(int fd, const uint8_t* bytes, unsigned count) {
    while (count > 0) {
        ssize_t sent = send(fd, bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            std::fprintf(stderr, "attach_reader: the hello did not go: %s\n", std::strerror(errno));
            std::exit(3);
        }
        bytes += sent;
        count -= unsigned(sent);
    }
}

// Waits for bytes until `deadline`: what recv gave, 0 at the end, -1 on the deadline.
ssize_t Receive(int fd, uint8_t* into, unsigned capacity, int64_t deadline) {
    for (;;) {
        int64_t left = deadline - Now();
        if (left <= 0) return -1;
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, int(left)) <= 0) continue;
        ssize_t got = recv(fd, into, capacity, 0);
        if (got >= 0) return got;
        if (errno != EINTR && errno != EAGAIN) return 0;
    }
}

// Messages are decoded in place, header by header; payloads are skipped
// (Data's counted), so the reader costs little more than its recv calls.
struct Reading {
    uint8_t block[1 << 18];
    uint8_t header[WireHeaderSize];
    unsigned headerHave = 0;
    unsigned payloadLeft = 0;
    WireType type = WireType::Data;
    unsigned long long data = 0;
    bool historyEnd = false;
    bool refused = false;
};

// Reads one block and decodes every header in it. False at the end or on
// the deadline (*late says which).
bool ReadSome(int fd, Reading& r, int64_t deadline, bool* late) {
    ssize_t got = Receive(fd, r.block, sizeof r.block, deadline);
    *late = got < 0;
    if (got <= 0) return false;
    for (unsigned at = 0; at < unsigned(got);) {
        unsigned left = unsigned(got) - at;
        if (r.payloadLeft > 0) {
            unsigned n = left < r.payloadLeft ? left : r.payloadLeft;
            if (r.type == WireType::Data) r.data += n;
            r.payloadLeft -= n;
            at += n;
            continue;
        }
        r.header[r.headerHave++] = r.block[at++];
        if (r.headerHave < WireHeaderSize) continue;
        r.headerHave = 0;
        r.type = WireType(r.header[0]);
        r.payloadLeft = unsigned(r.header[1]) << 16 | unsigned(r.header[2]) << 8 | r.header[3];
        if (r.payloadLeft > WirePayloadLimit(r.header[0])) {
            std::fprintf(stderr, "attach_reader: the server sent type %u with %u bytes\n", r.header[0],
                         r.payloadLeft);
            std::exit(3);
        }
        if (r.type == WireType::HistoryEnd) {
            r.historyEnd = true;
            r.data = 0;  // the flood's bytes are counted from here
        }
        if (r.type == WireType::Refusal) r.refused = true;
    }
    return true;
}

int Flood(const char* path, unsigned long long want, int seconds) {
    int fd = Connect(path);
    uint8_t hello[WireMaxMessage];
    SendAll(fd, hello, Hello(hello, sizeof hello));
    static Reading r;
    int64_t deadline = Now() + int64_t(seconds) * 1000;
    bool late = false;
    while (!r.historyEnd && !r.refused && ReadSome(fd, r, deadline, &late)) {}
    if (!r.historyEnd) {
        std::fprintf(stderr, "attach_reader: %s\n",
                     r.refused ? "refused"
                     : late    ? "no snapshot before the deadline"
                               : "the server hung up");
        return late ? 2 : 1;
    }
    std::printf("attached\n");
    std::fflush(stdout);
    struct rusage start;
    getrusage(RUSAGE_SELF, &start);
    while (r.data < want && ReadSome(fd, r, deadline, &late)) {}
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%llu %.4f %.4f\n", r.data, Seconds(usage.ru_utime) - Seconds(start.ru_utime),
                Seconds(usage.ru_stime) - Seconds(start.ru_stime));
    std::fflush(stdout);
    if (late) std::fprintf(stderr, "attach_reader: %llu of %llu bytes before the deadline\n", r.data, want);
    close(fd);
    return r.data >= want ? 0 : late ? 2 : 1;
}

int Churn(const char* path, unsigned cycles) {
    static Reading r;
    uint8_t hello[WireMaxMessage];
    unsigned helloLength = Hello(hello, sizeof hello);
    for (unsigned i = 0; i < cycles; ++i) {
        int fd = Connect(path);
        int64_t deadline = Now() + 10000;
        bool late = false;
        r.headerHave = r.payloadLeft = 0;
        r.historyEnd = false;
        switch (i % 4) {
            case 0:  // attached: the whole snapshot
                SendAll(fd, hello, helloLength);
                while (!r.historyEnd && ReadSome(fd, r, deadline, &late)) {}
                if (!r.historyEnd) {
                    std::fprintf(stderr, "attach_reader: cycle %u: no whole snapshot%s\n", i,
                                 late ? " before the deadline" : "");
                    return 2;
                }
                break;
            case 1:  // gone after its first block
                SendAll(fd, hello, helloLength);
                if (!ReadSome(fd, r, deadline, &late)) {
                    std::fprintf(stderr, "attach_reader: cycle %u: nothing came\n", i);
                    return 2;
                }
                break;
            case 2: break;  // raw: says nothing
            case 3: SendAll(fd, hello, helloLength / 2); break;
        }
        close(fd);
    }
    std::printf("%u cycles\n", cycles);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "flood") == 0)
        return Flood(argv[2], std::strtoull(argv[3], nullptr, 10), std::atoi(argv[4]));
    if (argc == 4 && std::strcmp(argv[1], "churn") == 0)
        return Churn(argv[2], unsigned(std::strtoul(argv[3], nullptr, 10)));
    std::fprintf(stderr, "usage: attach_reader flood PATH COUNT SECONDS | churn PATH CYCLES\n");
    return 3;
}
