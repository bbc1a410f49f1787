// The Unix program's way out: when the loop wakes, what waits for the line
// and in what order, the text rules for sends and pastes, a file send fed
// through the shared rules, and the status line that reports it all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <random>
#include <string>

#include "console/program/commands.h"
#include "console/program/connection.h"
#include "console/program/session.h"
#include "console/program/input.h"
#include "console/program/line_controls.h"
#include "console/rules/schedule.h"
#include "console/program/status.h"
#include "console/screen/display.h"
#include "console/features/transfers.h"
#include "core/output_queue.h"
#include "tests/support/fake_line.h"
#include "tests/support/with_front.h"

namespace {

typedef std::string Bytes;

TEST(Schedule, TimeoutIsTheEarliestDeadlineNeverNegativeNorForever) {
    const int64_t now = 1000;
    int64_t none[] = {NoDeadline, NoDeadline};
    EXPECT_EQ(PollTimeout(now, none, 2), -1);
    for (int64_t overdue : {0, 1, 2, 50000}) {
        int64_t due[] = {NoDeadline, now - overdue};
        EXPECT_EQ(PollTimeout(now, due, 2), 0) << "overdue by " << overdue;
    }
    int64_t several[] = {now + 500, now + 16, NoDeadline, now + 40};
    EXPECT_EQ(PollTimeout(now, several, 4), 16);
    int64_t far[] = {now + int64_t(INT_MAX) * 4};
    EXPECT_EQ(PollTimeout(now, far, 1), INT_MAX);
}

Bytes Drain(OutputPump& pump, int64_t now, uint32_t interval) {
    pump.StageQueued(now, interval);
    unsigned n;
    const uint8_t* bytes = pump.Pending(&n);
    Bytes staged(reinterpret_cast<const char*>(bytes), n);
    pump.Wrote(n, now, interval);
    return staged;
}

TEST(OutputPump, KeysWaitInOrderAndNothingIsDroppedSilently) {
    std::unique_ptr<OutputPump> pump(new OutputPump());
    const uint8_t key[3] = {0x9B, 0xBF, 0xF4};
    for (unsigned i = 0; i < TypedCapacity / 3; ++i) ASSERT_TRUE(pump->Queue(key, 3, false));
    EXPECT_FALSE(pump->Queue(key, 3, false));  // no room: refused whole, not cut
    EXPECT_TRUE(pump->Queue(key, TypedCapacity % 3, false));
    EXPECT_EQ(pump->Waiting(), TypedCapacity);
    // A stage at a time, each byte once, in order.
    Bytes all;
    while (pump->Waiting() > 0) all += Drain(*pump, 0, 0);
    ASSERT_EQ(all.size(), TypedCapacity);
    for (unsigned i = 0; i + 3 <= all.size(); i += 3) ASSERT_EQ(all.substr(i, 3), "\x9b\xbf\xf4");
    EXPECT_EQ(pump->Clear(), 0u);
}

TEST(OutputPump, APasteIsPacedByteByByteAndCanBeEnded) {
    std::unique_ptr<OutputPump> pump(new OutputPump());
    pump->Queue(reinterpret_cast<const uint8_t*>("ab"), 2, false);
    pump->Queue(reinterpret_cast<const uint8_t*>("PASTE"), 5, true);
    pump->Queue(reinterpret_cast<const uint8_t*>("z"), 1, false);
    EXPECT_EQ(pump->PasteWaiting(), 5u);
    EXPECT_EQ(Drain(*pump, 0, 100), "ab");  // typed bytes stop before the paced ones
    EXPECT_EQ(Drain(*pump, 0, 100), "P");
    EXPECT_TRUE(pump->WaitsForPace(50, 100));
    EXPECT_EQ(Drain(*pump, 50, 100), "");  // not yet
    EXPECT_EQ(pump->NextPaced(), 100);
    EXPECT_EQ(Drain(*pump, 100, 100), "A");
    EXPECT_EQ(pump->DropPaste(), 3u);  // "STE" goes, the typed "z" stays
    EXPECT_EQ(Drain(*pump, 100, 100), "z");
    // Without an interval a paste goes as fast as the line takes it.
    pump->Queue(reinterpret_cast<const uint8_t*>("xyz"), 3, true);
    EXPECT_EQ(Drain(*pump, 0, 0), "xyz");
}

TEST(OutputPump, ALineDelayFollowsEachPastedLineEnd) {
    std::unique_ptr<OutputPump> pump(new OutputPump());
    pump->SetLineDelay(100);
    pump->Queue(reinterpret_cast<const uint8_t*>("ab\r"), 3, true);
    pump->Queue(reinterpret_cast<const uint8_t*>("\x8d\x8a"), 2, true);  // CR LF (out-cr-crlf): one line end
    pump->Queue(reinterpret_cast<const uint8_t*>("c"), 1, true);
    EXPECT_EQ(Drain(*pump, 0, 0), "ab\r");
    EXPECT_TRUE(pump->WaitsForPace(99, 0));
    EXPECT_EQ(Drain(*pump, 99, 0), "");
    EXPECT_EQ(Drain(*pump, 100, 0), "\x8d\x8a");
    EXPECT_EQ(pump->NextPaced(), 200);
    pump->Queue(reinterpret_cast<const uint8_t*>("k"), 1, false);
    EXPECT_EQ(Drain(*pump, 150, 0), "");   // typed bytes wait behind the paste, in order
    EXPECT_EQ(Drain(*pump, 200, 0), "c");  // a run is all pasted or all typed
    EXPECT_EQ(Drain(*pump, 200, 0), "k");
    // With an interval too, the delay comes on top of it.
    pump->Queue(reinterpret_cast<const uint8_t*>("\r"), 1, true);
    EXPECT_EQ(Drain(*pump, 300, 10), "\r");
    EXPECT_EQ(pump->NextPaced(), 410);
}

TEST(TextRules, UnixAndDosLineEndsBothSendOneCr) {
    TextLineEnds ends;
    Bytes sent;
    for (char c : Bytes("a\nb\r\nc\n\n")) {
        uint8_t out;
        if (PastedByte(ends, uint8_t(c), false, &out) == 1) sent += char(out);
    }
    EXPECT_EQ(sent, "\xe1\x8d\xe2\x8d\xe3\x8d\x8d");
    uint8_t out;
    ASSERT_EQ(PastedByte(ends, 'A', true, &out), 1u);
    EXPECT_EQ(out, 'A');  // --seven-bit: bit 7 clear
    // A plain run taken whole gives what each byte gives, and stops where the
    // byte rules would need more than the text rule.
    std::mt19937 random(5);
    const char alphabet[] = "ab \r\n\r\n\t\x01\x7f\x08\x1b\xc3";
    for (int paste = 0; paste < 500; ++paste) {
        bool sevenBit = paste % 2 == 0;
        TextLineEnds whole, bytewise;
        Bytes in, fast, slow;
        for (unsigned k = random() % 60; k > 0; --k) in += alphabet[random() % (sizeof alphabet - 1)];
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(in.data());
        for (unsigned i = 0; i < in.size();) {
            uint8_t wire[64];
            unsigned written = 0, room = 1 + random() % 20;
            unsigned run = PastePlainRun(whole, bytes + i, std::min(unsigned(in.size()) - i, room), sevenBit,
                                         wire, &written);
            fast.append(reinterpret_cast<const char*>(wire), written);
            for (unsigned k = i; k < i + run; ++k) {
                if (PastedByte(bytewise, bytes[k], sevenBit, &out) == 1) slow += char(out);
            }
            if (run < std::min(unsigned(in.size()) - i, room)) {  // stopped at a byte it leaves
                uint8_t stop = bytes[i + run];
                ASSERT_TRUE(stop >= 0x7F || stop == 0x1B || stop == 0x08) << int(stop);
                if (PastedByte(whole, stop, sevenBit, &out) == 1) fast += char(out);
                if (PastedByte(bytewise, stop, sevenBit, &out) == 1) slow += char(out);
                ++run;
            }
            i += run;
        }
        ASSERT_EQ(fast, slow) << "paste " << paste;
    }
}

TEST(TextRules, CapturesGetUnixLineEndsAcrossBlocks) {
    UnixLineEnds ends;
    Bytes written;
    auto feed = [&](const Bytes& block) {
        for (char c : block) {
            uint8_t out[2];
            unsigned n = ends.Next(uint8_t(c), out);
            written.append(reinterpret_cast<char*>(out), n);
        }
    };
    feed("one\r");  // the CR waits for the next block
    feed("\ntwo\r\r\n 50%\r");
    EXPECT_EQ(written, "one\ntwo\r\n 50%");
    uint8_t held[1];
    EXPECT_EQ(ends.Finish(held), 1u);  // a lone CR at the end is kept
    EXPECT_EQ(held[0], '\r');
}

class SendFeed : public ::testing::Test {
protected:
    std::unique_ptr<OutputPump> pump{new OutputPump()};
    Transfers transfers;
    Notice notice = {};
    char folder[32] = "/tmp/brisvane-send-XXXXXX";

    void SetUp() override {
        ASSERT_NE(mkdtemp(folder), nullptr);
        sendState = SendState::Idle;
        outputQueue.count = 0;
    }
    void TearDown() override {
        if (sendState != SendState::Idle) EndSend();
        std::string command = std::string("rm -rf ") + folder;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    void Start(SendState mode, const Bytes& content) {
        std::string path = std::string(folder) + "/file";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
        close(fd);
        transfers.pendingSend = mode;
        StartSend(transfers, folder, "file", notice);
        ASSERT_EQ(sendState, mode) << notice.text;
    }
    // Feeds and "writes" until the send ends; returns the wire bytes and
    // how many stages carried them.
    Bytes Run(int64_t* now, uint32_t interval, bool sevenBit, int* stages) {
        Bytes wire;
        *stages = 0;
        for (int pass = 0; pass < 100000; ++pass) {
            bool ended = FeedSend(transfers, *pump, *now, interval, sevenBit);
            unsigned n;
            const uint8_t* bytes = pump->Pending(&n);
            wire.append(reinterpret_cast<const char*>(bytes), n);
            pump->Wrote(n, *now, interval);
            if (n > 0) ++*stages;
            if (ended) break;
            if (n == 0) *now = pump->NextPaced();  // the loop sleeps in poll until then
        }
        return wire;
    }
};

TEST_F(SendFeed, TextSendsGetUnixLineEndsBit7AndPacing) {
    Start(SendState::SendText, "AB\r\nC\n");
    int64_t now = 0;
    int stages;
    EXPECT_EQ(Run(&now, 10, false, &stages), "\xc1\xc2\x8d\xc3\x8d");
    EXPECT_EQ(now, 50);  // five bytes, each followed by its pause
    EXPECT_EQ(transfers.sendDone, 6u);
    Start(SendState::SendText, "AB\r\nC\n");
    EXPECT_EQ(Run(&now, 0, true, &stages), "AB\rC\r");  // --seven-bit, no interval: one stage
    EXPECT_EQ(stages, 1);
    pump->SetLineDelay(100);  // a stage per line, each followed by the delay
    Start(SendState::SendText, "AB\r\nC\n");
    EXPECT_EQ(Run(&now, 0, true, &stages), "AB\rC\r");
    EXPECT_EQ(stages, 2);
    EXPECT_EQ(now, 50 + 200);
}

TEST_F(SendFeed, RawAndBinarySendsPassEightBitsInBlocks) {
    Bytes content;
    for (int i = 0; i < 3 * int(StageCapacity) + 7; ++i) content += char(i * 7);
    content[10] = '\n';
    Start(SendState::SendRaw, content);
    int64_t now = 0;
    int stages;
    EXPECT_EQ(Run(&now, 500, true, &stages), content);  // neither paced nor cleared
    EXPECT_EQ(stages, 4);
    Start(SendState::SendBinary, Bytes("\x80\x41\x12\x80\x55", 5));
    EXPECT_EQ(Run(&now, 0, false, &stages), Bytes("\x80\x41\x12", 3));
}

// A paste read straight from the terminal: the end bracket split across
// reads, text that only starts like it, UTF-8 split across reads, and what
// came after the end left for curses.
TEST(PasteText, TakesTheTextUpToItsEndBracketAsCursesWould) {
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    Session& c = *console;
    DefaultOptions(&c.options);
    c.options.sevenBit = true;
    c.link.state = LinkState::Open;
    c.input.inPaste = true;
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    auto paste = [&](const std::string& bytes) {
        return PasteText(c, reinterpret_cast<const uint8_t*>(bytes.data()), unsigned(bytes.size()));
    };
    EXPECT_EQ(paste("a\n\033[2Xb\xc3"), 8u);              // an escape that is not the end is text
    EXPECT_EQ(paste("\xa9\xe2\x82\xac\x7f\033[20"), 9u);  // é; the euro sign has no byte
    EXPECT_TRUE(c.input.inPaste);
    EXPECT_EQ(paste("1~typed"), 2u);
    EXPECT_FALSE(c.input.inPaste);
    unsigned length = 0;
    c.pump.StageQueued(0, 0);
    const uint8_t* staged = c.pump.Pending(&length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(staged), length), "a\r\033[2Xb\x69\x08");
    EXPECT_EQ(c.input.pasteTotal, 9u);
    std::setlocale(LC_CTYPE, "C");
}

class Status : public ::testing::Test {
protected:
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    void SetUp() override {
        Session& c = *console;
        DefaultOptions(&c.options);
        std::snprintf(c.options.device, sizeof c.options.device, "/dev/ttyUSB0");
        c.link.controls = {c.options.line, true, -1, -1};
        c.link.line.reset(new FakeLine(true));
        c.link.state = LinkState::Open;
    }
    TransferModes modes = {SendState::Idle, ReceiveMode::Off, 0};
    std::string lines;  // the program's part naming several lines
    std::string Text(int* cursor = nullptr) {
        char text[StatusCapacity];
        int at = ComposeStatus(*console, {modes, 80, false, lines.c_str()}, text, sizeof text);
        if (cursor != nullptr) *cursor = at;
        return text;
    }
};

TEST_F(Status, TheLineItsFlowControlAndWhatRuns) {
    Session& c = *console;
    EXPECT_EQ(Text(), " /dev/ttyUSB0 9600,n,8,1 rtscts | Ctrl-A: menu");
    c.link.controls.hardwareFlow = false;
    EXPECT_EQ(Text(), " /dev/ttyUSB0 9600,n,8,1 none | Ctrl-A: menu");
    c.options.sevenBit = false;  // --eight-bit: said, as it is not the default
    EXPECT_EQ(Text(), " /dev/ttyUSB0 9600,n,8,1 none 8-bit | Ctrl-A: menu");
    c.pump.Queue(reinterpret_cast<const uint8_t*>("typed"), 5, false);
    c.pump.Queue(reinterpret_cast<const uint8_t*>("paste"), 5, true);
    c.input.pasteTotal = 12;
    Say(c.notice, "break sent");
    EXPECT_EQ(Text(),
              " break sent | paste 7/12 | 5 bytes wait | /dev/ttyUSB0 9600,n,8,1 none 8-bit |"
              " Ctrl-A: menu");
    c.pump.Clear();
    Forget(c.notice);
    c.ansi.hidden = 1204;
    EXPECT_EQ(Text(), " ansi: 1,204 hidden | /dev/ttyUSB0 9600,n,8,1 none 8-bit | Ctrl-A: menu");
    c.ansi.hide = false;  // shown: nothing more is hidden
    EXPECT_EQ(Text(), " /dev/ttyUSB0 9600,n,8,1 none 8-bit | Ctrl-A: menu");
    Forget(c.notice);
    c.link.state = LinkState::Down;
    c.link.everOpened = true;
    EXPECT_EQ(Text(), " disconnected, waiting for /dev/ttyUSB0 | Ctrl-A: menu");
    c.link.everOpened = false;
    EXPECT_EQ(Text(), " waiting for /dev/ttyUSB0 | Ctrl-A: menu");
    c.link.line.reset(new FakeLine(false));
    c.link.state = LinkState::Open;
    EXPECT_EQ(Text(), " host:7000 (settings: the server's) 8-bit | Ctrl-A: menu");
}

TEST_F(Status, QuestionsTakeTheLineAndPlaceTheCursor) {
    Session& c = *console;
    OpenPrompt(c.ui.prompt, "send raw file", "notes.txt");
    int cursor;
    EXPECT_EQ(Text(&cursor), " send raw file: notes.txt");
    EXPECT_EQ(cursor, 25);
    c.ui.prompt.active = false;
    c.ui.menu = MenuLevel::Send;
    EXPECT_EQ(Text(&cursor), " send: r raw  b binary  t text  x xmodem  y ymodem  z zmodem  e end");
    EXPECT_EQ(cursor, -1);
    c.ui.menu = MenuLevel::Closed;
    ASSERT_TRUE(c.ui.history.Allocate(100));
    Cell row[ScreenColumns];
    for (Cell& cell : row) cell = 'x';
    for (int i = 0; i < 30; ++i) c.ui.history.Push(row);
    OpenView(c.ui.view, c.ui.history);
    MoveView(c.ui.view, c.ui.history, ViewMove::PageUp);
    c.ui.history.Push(row);
    EXPECT_EQ(Text().substr(0, 30), " history 8-31 of 55 | 1 new | ");
    char count[32];
    FormatCount(1234567, count, sizeof count);
    EXPECT_STREQ(count, "1,234,567");
}

// A driver that takes the calls but not their effect: DTR stays off, and a
// BREAK once on will not end.
class StubbornLine : public FakeLine {
public:
    StubbornLine() : FakeLine(true) {}
    ControlResult SetBreak(bool on) override { return on ? ControlResult::Done : ControlResult::Refused; }
    ControlResult SetModemOutput(ModemOutput, bool) override { return ControlResult::Refused; }
    ControlResult ReadModemLines(ModemLines* lines) override {
        *lines = {true, true, true, false, false, true};
        return ControlResult::Done;
    }
};

TEST_F(Status, LineControlsThatDidNotTakeAreSaidAndRecordedAsTheyAre) {
    Session& c = *console;
    c.link.line.reset(new StubbornLine());
    c.link.controls.dtr = 1;
    char message[256];
    ASSERT_EQ(OpenAtStart(c, message, sizeof message), OpenResult::Open);
    EXPECT_STREQ(c.notice.text, "/dev/ttyUSB0 refused to set DTR: DTR is off, RTS on");
    EXPECT_FALSE(ModemOutputOn(c, ModemOutput::Dtr));
    c.link.breakEndsAt = 10;
    c.link.dtrBackAt = 20;
    EndTimedControls(c, 10);
    EXPECT_STREQ(c.notice.text, "the line refused to end the BREAK: it may still be held (/dev/ttyUSB0)");
    EndTimedControls(c, 20);
    EXPECT_STREQ(c.notice.text, "the line refused to set DTR on again after the pulse: DTR is off");
}

}  // namespace
