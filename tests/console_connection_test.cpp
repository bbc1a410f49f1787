// Making a network line from the loop, with a scripted line and the clock
// given by the test: the first connect, its time limit, --wait, the back-off
// and leaving while it connects.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "console/program/connection.h"
#include "console/program/session.h"
#include "console/program/input.h"
#include "tests/support/fake_line.h"
#include "tests/support/with_front.h"

namespace {

// Open answers `open` (InProgress: it then waits for Continue); counts opens.
class ScriptedLine : public FakeLine {
public:
    ScriptedLine() : FakeLine(false) {}
    OpenResult open = OpenResult::InProgress;
    OpenResult Open(const LineControls&, char* message, unsigned capacity) override {
        ++opens;
        std::snprintf(message, capacity, "host:7000: connection refused; is the server running?");
        return open;
    }
    OpenResult Continue(short, char*, unsigned) override { return OpenResult::InProgress; }
    int Descriptor() const override { return 3; }
    const char* Awaiting() const override { return "the TCP connect"; }
};

class Connecting : public ::testing::Test {
protected:
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    ScriptedLine* line = new ScriptedLine;
    void SetUp() override {
        Session& c = *console;
        DefaultOptions(&c.options);
        std::snprintf(c.options.device, sizeof c.options.device, "tcp://host:7000");
        c.link.line.reset(line);
        char message[256];
        ASSERT_EQ(OpenAtStart(c, message, sizeof message), OpenResult::InProgress);
        c.link.retryAt = 0;
    }
    Reaction reaction = Nothing;  // of the last call
    // Runs the loop's connection calls at `now`; returns the next deadline.
    int64_t At(int64_t now) {
        reaction = RetryIfDue(*console, now);
        return ConnectionDeadline(*console);
    }
};

TEST_F(Connecting, TheFirstConnectHasFiveSecondsThenExitsWithTheStepThatGotNoAnswer) {
    Session& c = *console;
    EXPECT_EQ(At(0), 5000);
    EXPECT_EQ(c.link.state, LinkState::Connecting);
    EXPECT_EQ(At(4999), 5000);
    At(5000);
    EXPECT_EQ(reaction, Quit);
    EXPECT_EQ(c.exitCode, 1);
    EXPECT_STREQ(c.link.startFailure, "host:7000: no answer to the TCP connect in 5 s");
}

TEST_F(Connecting, TheMenuKeyThenXLeavesAtOnceWhileConnecting) {
    Session& c = *console;
    At(0);
    EXPECT_EQ(HandleKey(c, c.options.prefixKey, false, 10), Nothing);
    EXPECT_TRUE(HandleKey(c, 'x', false, 20) & Quit);
    EXPECT_EQ(c.exitCode, 0);
    EXPECT_STREQ(c.link.startFailure, "");
}

TEST_F(Connecting, WaitBacksOffAndAShortOpenDoesNotResetIt) {
    Session& c = *console;
    c.options.waitForDevice = true;
    line->open = OpenResult::Missing;  // refused, each time
    int64_t now = 0;
    std::string delays;
    for (int i = 0; i < 5; ++i) {
        int64_t next = At(now);
        delays += std::to_string(next - now) + " ";
        now = next;
    }
    EXPECT_EQ(delays, "500 1000 2000 4000 4000 ");
    EXPECT_EQ(reaction, Nothing);
    EXPECT_STREQ(c.notice.text, "host:7000: connection refused; is the server running?");
    // A server that accepts and closes at once: the delay goes on growing...
    c.link.retryDelay = 500;
    line->open = OpenResult::Open;
    At(now = c.link.retryAt);
    LineLost(c, now + 10);
    EXPECT_EQ(c.link.retryAt - (now + 10), 1000);
    // ...and starts afresh only after a line that stayed open.
    At(now = c.link.retryAt);
    LineLost(c, now + LongestRetryMilliseconds);
    EXPECT_EQ(c.link.retryAt - (now + LongestRetryMilliseconds), 500);
}

TEST_F(Connecting, WithoutWaitARefusalExitsAtOnce) {
    Session& c = *console;
    line->open = OpenResult::Missing;
    At(0);
    EXPECT_EQ(reaction, Quit);
    EXPECT_EQ(c.exitCode, 1);
    EXPECT_STREQ(c.link.startFailure, "host:7000: connection refused; is the server running?");
}

}  // namespace
