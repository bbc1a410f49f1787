// The shared line's own rules: a client's bounded buffer, the --share forms,
// and a client's keys when the output pump is full. (A slow client's drop is
// seen whole in tests/console/test_share.py.)
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "console/program/console.h"
#include "console/program/send.h"
#include "console/features/share.h"

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
    buffer.Consume(4);                           // "ef" left, at the end of the ring
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

// A share whose one client is the near end of a socket pair; the test holds the far end.
struct Fixture {
    std::unique_ptr<Share> share{new Share()};
    std::unique_ptr<Console> console{new Console()};
    OutputPump* pump = &console->pump;
    Notice notice = {};
    int far = -1;

    Fixture() {
        int ends[2];
        socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends);
        share->client[0].fd = ends[0];
        share->client[0].backlog.Allocate(ShareBacklog);
        share->clients = 1;
        far = ends[1];
        DefaultOptions(&console->options);
        console->link.state = LinkState::Open;
        share->listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);  // never connected to
    }
    ~Fixture() {
        CloseShare(*share);
        close(far);
    }
};

TEST(Share, AClientsKeysWaitForRoomInThePumpInsteadOfBeingLost) {
    Fixture f;
    static uint8_t filler[TypedCapacity - 2];
    ASSERT_TRUE(f.pump->Queue(filler, sizeof filler, false));
    ASSERT_EQ(write(f.far, "abcd", 4), 4);
    ShareTargets targets = {f.notice, true, SendFromShare, f.console.get()};
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
    // Bit 7 as typed keys have it: clear by default.
    f.pump->StageQueued(0, 0);
    unsigned n;
    const uint8_t* staged = f.pump->Pending(&n);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(staged[0], 'c');
}

}  // namespace
