// The shared line's own rules: a client's bounded buffer, the --share forms,
// and what the share does with a slow client and with a client's keys when
// the output pump is full (clients on socket pairs, no listener).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "console/share.h"

namespace {

std::string Take(ShareBuffer& buffer) {
    std::string out;
    unsigned n;
    while (!buffer.Empty()) {
        const uint8_t* run = buffer.Front(&n);
        out.append(reinterpret_cast<const char*>(run), n);
        buffer.Consume(n);
    }
    return out;
}

const uint8_t* U(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

TEST(ShareBuffer, KeepsOrderAcrossTheWrapAndRefusesWhatDoesNotFitWhole) {
    ShareBuffer buffer;
    ASSERT_TRUE(buffer.Allocate(8));
    EXPECT_TRUE(buffer.Append(U("abcdef"), 6));
    unsigned n;
    buffer.Front(&n);
    buffer.Consume(4);  // "ef" left, at the end of the ring
    EXPECT_TRUE(buffer.Append(U("ghijkl"), 6));  // wraps
    EXPECT_FALSE(buffer.Append(U("m"), 1));      // full: refused, nothing cut
    EXPECT_EQ(buffer.Used(), 8u);
    EXPECT_EQ(Take(buffer), "efghijkl");
    EXPECT_TRUE(buffer.Append(U("12345678"), 8));
    EXPECT_FALSE(buffer.Append(U("9"), 1));
    EXPECT_EQ(Take(buffer), "12345678");
    buffer.Release();
    EXPECT_FALSE(buffer.Append(U("x"), 1));  // no room at all once given back
    EXPECT_TRUE(buffer.Empty());
}

TEST(ShareAddress, ReadsTheThreeFormsAndRefusesTheRest) {
    ShareAddress a;
    const char* problem;
    ASSERT_TRUE(ParseShareAddress("unix:/tmp/s", &a, &problem));
    EXPECT_TRUE(a.unixSocket);
    EXPECT_STREQ(a.path, "/tmp/s");
    ASSERT_TRUE(ParseShareAddress("tcp:7000", &a, &problem));
    EXPECT_FALSE(a.unixSocket);
    EXPECT_STREQ(a.host, "127.0.0.1");  // loopback unless an address is named
    EXPECT_STREQ(a.port, "7000");
    ASSERT_TRUE(ParseShareAddress("tcp:0.0.0.0:65535", &a, &problem));
    EXPECT_STREQ(a.host, "0.0.0.0");
    ASSERT_TRUE(ParseShareAddress("tcp:[::1]:7000", &a, &problem));
    EXPECT_STREQ(a.host, "::1");
    std::string longPath = "unix:/" + std::string(SharePathCapacity, 'x');
    for (const char* bad : {"", "unix:", "tcp:", "tcp:0", "tcp:65536", "tcp:12x", "tcp::7000", "tcp:::1:7000",
                            "tcp:host:", "udp:7000", "/tmp/s", longPath.c_str()}) {
        EXPECT_FALSE(ParseShareAddress(bad, &a, &problem)) << bad;
    }
}

// A share whose clients are the near ends of socket pairs; the test holds the far ends.
struct Fixture {
    std::unique_ptr<Share> share{new Share()};
    std::unique_ptr<OutputPump> pump{new OutputPump()};
    Notice notice = {};
    int far[2] = {-1, -1};

    Fixture() {
        for (unsigned i = 0; i < 2; ++i) {
            int ends[2];
            socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends);
            share->client[i].fd = ends[0];
            share->client[i].backlog.Allocate(ShareBacklog);
            far[i] = ends[1];
            ++share->clients;
        }
        share->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);  // never connected to
    }
    ~Fixture() {
        CloseShare(*share);
        for (int fd : far) close(fd);
    }
    // A pass of the loop with nothing reported by poll.
    void Pass(ShareTargets& targets) {
        struct pollfd fds[ShareMaxDescriptors];
        ShareDescriptors(*share, targets, fds);
    }
    size_t Drain(int fd) {
        size_t total = 0;
        char block[65536];
        ssize_t n;
        while ((n = read(fd, block, sizeof block)) > 0) total += size_t(n);
        return total;
    }
};

TEST(Share, AStalledClientIsDroppedWithANoticeWhileTheOtherGetsEveryByte) {
    Fixture f;
    ShareTargets targets = {*f.pump, f.notice, true, false};
    static uint8_t block[16384];
    size_t sent = 0, received = 0;
    while (f.share->clients == 2 && sent < 16 * size_t(ShareBacklog)) {
        ShareReceived(*f.share, f.notice, block, sizeof block);
        f.Pass(targets);
        sent += sizeof block;
        received += f.Drain(f.far[1]);  // the second keeps up, the first never reads
    }
    received += f.Drain(f.far[1]);
    EXPECT_EQ(f.share->clients, 1u);
    EXPECT_EQ(f.share->client[0].fd, -1);
    EXPECT_GT(sent, size_t(ShareBacklog));  // dropped only once its buffer filled
    EXPECT_EQ(received, sent);
    EXPECT_STRNE(f.notice.text, "");
    f.Drain(f.far[0]);
    char probe;
    EXPECT_EQ(read(f.far[0], &probe, 1), 0);  // it sees its end
}

TEST(Share, AClientsKeysWaitForRoomInThePumpInsteadOfBeingLost) {
    Fixture f;
    static uint8_t filler[TypedCapacity - 2];
    ASSERT_TRUE(f.pump->Queue(filler, sizeof filler, false));
    ASSERT_EQ(write(f.far[0], "abcd", 4), 4);
    ShareTargets targets = {*f.pump, f.notice, true, false};
    struct pollfd fds[ShareMaxDescriptors] = {};
    ShareDescriptors(*f.share, targets, fds);
    fds[1].revents = POLLIN;
    ServeShare(*f.share, targets, fds, ShareMaxDescriptors);
    EXPECT_EQ(f.pump->Waiting(), TypedCapacity);  // "ab" in, "cd" waits
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(fds[1].events & POLLIN, 0);  // not read meanwhile
    f.pump->Clear();
    ShareDescriptors(*f.share, targets, fds);
    EXPECT_EQ(f.pump->Waiting(), 2u);
    EXPECT_NE(fds[1].events & POLLIN, 0);
    // Bit 7 as typed keys have it.
    f.pump->StageQueued(0, 0);
    unsigned n;
    const uint8_t* staged = f.pump->Pending(&n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(staged[0], 'c' | 0x80);
}

}  // namespace
