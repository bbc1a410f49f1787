// Protocol transfers: what lrzsz's commands say on stderr read as progress,
// the option's command lines, and a child run through the pipes (a plain
// command standing in for lrzsz): what it inherits, what a cancel leaves.
#include <algorithm>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <string>
#include <unistd.h>

#include "console/line/clock.h"
#include "console/features/protocol_run.h"
#include "console/rules/schedule.h"

namespace {

ProtocolProgress Read(const std::string& text, unsigned piece) {
    ProtocolProgress p = {};
    ProgressReader reader;
    for (size_t at = 0; at < text.size(); at += piece) {
        std::string part = text.substr(at, piece);
        reader.Take(p, reinterpret_cast<const uint8_t*>(part.data()), unsigned(part.size()));
    }
    reader.Finish(p);
    return p;
}

TEST(ProtocolProgress, ReadsWhatEachCommandSaysInAnyPieces) {
    // As sz -vv writes it: progress redrawn with CR, the end with LF.
    std::string sz =
        "Sending: dir/image.bin\r\nBytes Sent:   1024/ 307200   BPS:1270700  ETA 00:00  \r"
        "Retry 0: Got ZNAK\r\nBytes Sent: 153600/ 307200   BPS:9173716  ETA 00:00  \r";
    for (unsigned piece : {1u, 7u, 4096u}) {
        ProtocolProgress p = Read(sz, piece);
        EXPECT_STREQ(p.file, "image.bin") << piece;
        EXPECT_EQ(p.bytes, 153600u);
        EXPECT_EQ(p.total, 307200u);
        EXPECT_EQ(ProgressPercent(p), 50);
        EXPECT_EQ(p.errors, 1u);
        EXPECT_STREQ(p.message, "Retry 0: Got ZNAK");
    }
    // sb and sx count 128-byte sectors; a batch ends with an empty name.
    ProtocolProgress p = Read("Sending: a.bin\r\nYmodem sectors/kbytes sent:  24/ 3k\rSending: \r\n", 5);
    EXPECT_STREQ(p.file, "a.bin");
    EXPECT_EQ(p.bytes, 24u * 128);
    EXPECT_EQ(p.files, 1u);
    EXPECT_EQ(ProgressPercent(p), -1);
    // A send's size, known from the start, stays to the end: the command
    // names the file again, and counts from 0 after the batch's closing name.
    p = {};
    std::snprintf(p.file, sizeof p.file, "big.bin");
    p.total = 8388608;
    ProgressReader reader;
    std::string sb =
        "Sending: big.bin\r\nYmodem sectors/kbytes sent: 20001/2500k\rSending: \r\n"
        "Ymodem sectors/kbytes sent:   0/ 0k\r";
    reader.Take(p, reinterpret_cast<const uint8_t*>(sb.data()), unsigned(sb.size()));
    EXPECT_EQ(p.total, 8388608u);
    EXPECT_EQ(p.bytes, 20001u * 128);
    EXPECT_EQ(ProgressPercent(p), 30);
    p = Read("Sending /home/me/x.bin, 2400 blocks: Give your local XMODEM receive command now.\r\n", 64);
    EXPECT_STREQ(p.file, "x.bin");
    p = Read("Receiving: f.bin\r\nBytes received:  307200   BPS:293328\r\n\r\nTransfer complete\n", 3);
    EXPECT_EQ(p.bytes, 307200u);
    EXPECT_TRUE(p.complete);
    // The reason a command gives up beats its farewell.
    p = Read("\r\nrx:\tSecurity Violation\r\nrx: caught signal -1; exiting\n", 9);
    EXPECT_STREQ(p.message, "rx:\tSecurity Violation");
    // A line longer than the reader keeps is cut, not overrun.
    p = Read("Sending: " + std::string(5000, 'n') + "\r\n", 100);
    EXPECT_EQ(std::string(p.file), std::string(ProgressNameCapacity - 1, 'n'));
}

TEST(ProtocolCommand, SplitsTheOptionIntoTheCommandForEachDirection) {
    char buffer[256];
    char* words[8];
    ASSERT_EQ(
        ProtocolCommand("sx -vv  -k,rx -c", ProtocolDirection::Send, "/a b", buffer, sizeof buffer, words, 8),
        4u);
    EXPECT_STREQ(words[0], "sx");
    EXPECT_STREQ(words[2], "-k");
    EXPECT_STREQ(words[3], "/a b");  // the file is one word, blanks and all
    EXPECT_EQ(words[4], nullptr);
    ASSERT_EQ(ProtocolCommand("sx -vv -k,rx -c", ProtocolDirection::Receive, nullptr, buffer, sizeof buffer,
                              words, 8),
              2u);
    EXPECT_STREQ(words[1], "-c");
    EXPECT_EQ(ProtocolCommand("sx,  ", ProtocolDirection::Receive, nullptr, buffer, sizeof buffer, words, 8),
              0u);
    // Too many words: the rest are dropped, and the list still ends.
    ASSERT_EQ(
        ProtocolCommand("a b c d e f g h i", ProtocolDirection::Send, "f", buffer, sizeof buffer, words, 4),
        3u);
    EXPECT_STREQ(words[2], "f");
    EXPECT_EQ(words[3], nullptr);
}

// Runs the child until it has ended, as the loop does, writing the stage out.
std::string RunOut(ProtocolRun& run, OutputPump& pump, Notice& notice) {
    std::string out;
    for (int pass = 0; pass < 2000 && run.active; ++pass) {
        struct pollfd fds[ProtocolPollCount];
        poll(fds, ProtocolPollFds(run, pump.StageEmpty(), MonotonicMilliseconds(), fds), 5);
        if (pump.StageEmpty()) FeedProtocolOutput(run, pump);
        unsigned length;
        const uint8_t* bytes = pump.Pending(&length);
        out.append(reinterpret_cast<const char*>(bytes), length);
        pump.Wrote(length, 0, 0);
        ServeProtocol(run, pump, notice, MonotonicMilliseconds());
    }
    return out;
}

class ProtocolChild : public ::testing::Test {
protected:
    std::unique_ptr<ProtocolRun> run{new ProtocolRun()};
    std::unique_ptr<OutputPump> pump{new OutputPump()};
    Notice notice = {};
};

TEST_F(ProtocolChild, GetsOnlyItsPipesAndEchoesTheLineBack) {
    int leaked = open("/dev/null", O_RDONLY);  // no O_CLOEXEC: it must not reach the child
    ASSERT_GE(leaked, 3);
    ASSERT_TRUE(StartProtocol(*run, Protocol::Ymodem, ProtocolDirection::Receive, "x,ls /proc/self/fd", "",
                              nullptr, notice));
    EXPECT_EQ(RunOut(*run, *pump, notice), "0\n1\n2\n3\n");  // 3: ls's own look at the folder
    EXPECT_STREQ(notice.text, "ymodem: received nothing, 0 bytes");
    close(leaked);

    ASSERT_TRUE(
        StartProtocol(*run, Protocol::Zmodem, ProtocolDirection::Receive, "x,cat", "", nullptr, notice));
    unsigned room;
    uint8_t* into = ProtocolInputRoom(*run, &room);
    ASSERT_NE(into, nullptr);
    std::memcpy(into, "from the line", 13);
    ProtocolReceived(*run, 13);
    std::string echoed;
    while (echoed.size() < 13) {
        struct pollfd fds[ProtocolPollCount];
        poll(fds, ProtocolPollFds(*run, true, MonotonicMilliseconds(), fds), 1000);
        FeedProtocolOutput(*run, *pump);
        unsigned length;
        const uint8_t* bytes = pump->Pending(&length);
        echoed.append(reinterpret_cast<const char*>(bytes), length);
        pump->Wrote(length, 0, 0);
    }
    EXPECT_EQ(echoed, "from the line");

    // While bytes move, its progress is read on each pass, not waited for:
    // the stderr pipe is polled only once they have been still a while.
    int64_t now = run->movedAt + 1000;  // well before a stall is said
    ServeProtocol(*run, *pump, notice, now);
    struct pollfd fds[ProtocolPollCount];
    unsigned count = ProtocolPollFds(*run, true, now + 10, fds);
    for (unsigned i = 0; i < count; ++i) EXPECT_NE(fds[i].fd, run->errors);
    EXPECT_EQ(ProtocolDeadline(*run, now + 10), now + ProgressQuietMilliseconds);
    count = ProtocolPollFds(*run, true, now + ProgressQuietMilliseconds, fds);
    EXPECT_TRUE(std::any_of(fds, fds + count, [&](const pollfd& f) { return f.fd == run->errors; }));

    // A cancel kills and reaps it; the CAN sequence waits for the line, twice.
    pid_t child = run->child;
    CancelProtocol(*run, *pump, notice, "cancelled", 1000);
    EXPECT_FALSE(run->active);
    EXPECT_NE(kill(child, 0), 0);
    EXPECT_STREQ(notice.text, "zmodem: cancelled");
    EXPECT_EQ(pump->Waiting(), 16u);
    EXPECT_EQ(ProtocolDeadline(*run, 1000), 1500);
    ServeProtocol(*run, *pump, notice, 1500);
    EXPECT_EQ(pump->Waiting(), 32u);
    EXPECT_EQ(ProtocolDeadline(*run, 1500), NoDeadline);
}

TEST_F(ProtocolChild, FailuresSayWhyAndSendNothing) {
    const char* path = std::getenv("PATH");
    std::string saved = path != nullptr ? path : "";
    setenv("PATH", "/nonexistent", 1);
    EXPECT_FALSE(StartProtocol(*run, Protocol::Ymodem, ProtocolDirection::Send, "sb -vv,rb", "",
                               "/etc/hostname", notice));
    setenv("PATH", saved.c_str(), 1);
    EXPECT_STREQ(notice.text, "ymodem: sb not found: install lrzsz");
    EXPECT_FALSE(run->active);
    EXPECT_EQ(pump->Waiting(), 0u);
    EXPECT_TRUE(pump->StageEmpty());

    ASSERT_TRUE(
        StartProtocol(*run, Protocol::Xmodem, ProtocolDirection::Send, "false,x", "", nullptr, notice));
    RunOut(*run, *pump, notice);
    EXPECT_STREQ(notice.text, "xmodem: failed: exit status 1");
}

// A cancel ends what the tool started too (its process group): here
// timeout's sleep, which a kill of timeout alone would leave running.
TEST_F(ProtocolChild, ACancelEndsWhatTheToolStarted) {
    ASSERT_TRUE(StartProtocol(*run, Protocol::Zmodem, ProtocolDirection::Receive, "x,timeout 300 sleep 300",
                              "", nullptr, notice));
    std::string children =
        "/proc/" + std::to_string(run->child) + "/task/" + std::to_string(run->child) + "/children";
    pid_t sleeper = 0;
    for (int i = 0; i < 500 && !(std::ifstream(children) >> sleeper); ++i) usleep(10000);
    ASSERT_GT(sleeper, 0);
    CancelProtocol(*run, *pump, notice, "cancelled", 1000);
    std::string state = "R";  // gone, or a zombie left for init
    for (int i = 0; i < 500 && state != "Z" && state != "gone"; ++i) {
        std::string pid, name;
        if (!(std::ifstream("/proc/" + std::to_string(sleeper) + "/stat") >> pid >> name >> state))
            state = "gone";
        usleep(10000);
    }
    EXPECT_TRUE(state == "Z" || state == "gone") << state;
}

}  // namespace
