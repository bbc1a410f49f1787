// The Unix program's way in: what a received block does to the screen, the
// history, the identify reply, a text capture and the logs (and what
// they say when a file fills up); the history
// ring at its wrap point and the view's search.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <random>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "console/features/log.h"
#include "console/features/receive_sinks.h"
#include "console/features/recorder.h"
#include "console/features/transfers.h"
#include "console/rules/history.h"
#include "console/rules/history_view.h"
#include "console/rules/line_maps.h"
#include "console/rules/cast.h"
#include "console/rules/recording.h"
#include "console/rules/script_text.h"
#include "console/screen/receive.h"
#include "core/interpreter.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/file_io_posix.h"
#include "link/transfer.h"

namespace {

std::string HistoryRow(const History& history, uint64_t number) {
    Cell cells[ScreenColumns];
    unsigned length = history.Row(number, cells);
    std::string text;
    for (unsigned i = 0; i < length; ++i) text += cells[i] < 0x80 ? char(cells[i]) : '#';
    return text;
}

void PushText(History& history, const std::string& text) {
    Cell cells[ScreenColumns];
    for (int i = 0; i < ScreenColumns; ++i) cells[i] = i < int(text.size()) ? Cell(text[i]) : BlankCell;
    history.Push(cells);
}

TEST(HistoryRing, KeepsTheNewestRowsTrimmedAcrossTheWrap) {
    History history;
    ASSERT_TRUE(history.Allocate(3));
    for (int i = 0; i < 5; ++i) PushText(history, "row " + std::to_string(i) + "   ");
    EXPECT_EQ(history.Oldest(), 2u);
    EXPECT_EQ(history.End(), 5u);
    EXPECT_EQ(history.Count(), 3u);
    EXPECT_EQ(HistoryRow(history, 1), "");  // forgotten: blank
    EXPECT_EQ(HistoryRow(history, 2), "row 2");
    EXPECT_EQ(HistoryRow(history, 4), "row 4");
    Cell graphics[ScreenColumns];
    for (Cell& cell : graphics) cell = 0x2588;
    graphics[1] = 0x2193;
    history.Push(graphics);
    Cell back[ScreenColumns];
    EXPECT_EQ(history.Row(5, back), unsigned(ScreenColumns));
    EXPECT_EQ(back[0], 0x2588);
    EXPECT_EQ(back[1], 0x2193);
    // Trimmed at every length, a blank past the eighth from the end among them.
    for (unsigned length : {0u, 1u, 7u, 8u, 9u, 16u, 72u, 79u, 80u}) {
        std::string row(length, 'x');
        if (length > 9) row[length - 9] = ' ';
        PushText(history, row + "  ");
        EXPECT_EQ(HistoryRow(history, history.End() - 1), row.substr(0, 80));
    }
    Cell odd[ScreenColumns];
    for (Cell& cell : odd) cell = BlankCell;
    odd[3] = 0x0120;  // narrows to a blank, but is no blank: kept as unknown
    odd[5] = 0x8041;  // and to nothing at all
    history.Push(odd);
    EXPECT_EQ(HistoryRow(history, history.End() - 1), "   ? ?");
    History none;
    ASSERT_TRUE(none.Allocate(0));
    none.Push(graphics);
    EXPECT_EQ(none.Count(), 0u);
}

// A script's text taken a block at a time is what a byte at a time takes
// with the interpreter's own escape state, across the ring's wrap.
TEST(ScriptTextRing, ABlockTakesWhatEachByteWould) {
    std::mt19937 random(11);
    const char alphabet[] =
        "\033YAZK[m\r\n\t\x08\x07 ab\xc1\x9b\x7f"
        "0123456789cdefghijklmnopqrstuvwxyz";
    static ScriptText bytewise, blockwise;
    ClearText(bytewise);
    ClearText(blockwise);
    ResetScreen();
    // Eight bytes at a time up to the ring's very end, then on from its start.
    static ScriptText edge;
    std::string upToEnd(ScriptTextCapacity - 8, 'x');
    for (const std::string& in : {upToEnd, std::string("abcdefghijklmnop")}) {
        TakeShownBlock(edge, reinterpret_cast<const uint8_t*>(in.data()), unsigned(in.size()),
                       EscapeState::Normal);
    }
    EXPECT_EQ(edge.count, ScriptTextCapacity);
    EXPECT_EQ(edge.head, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(edge.bytes), 8), "ijklmnop");
    for (int block = 0; block < 400; ++block) {
        std::string in;
        for (unsigned k = random() % 700; k > 0; --k) in += alphabet[random() % (sizeof alphabet - 1)];
        const uint8_t* bytes = reinterpret_cast<const uint8_t*>(in.data());
        TakeShownBlock(blockwise, bytes, unsigned(in.size()), terminal.escapeState);
        for (uint8_t byte : in) {
            TakeShown(bytewise, byte, terminal.escapeState != EscapeState::Normal);
            InterpretByte(byte);
            outputQueue.Discard();
        }
        ASSERT_EQ(blockwise.added, bytewise.added);
        ASSERT_EQ(blockwise.count, bytewise.count);
        ASSERT_EQ(blockwise.head, bytewise.head);
        if (block % 50 == 0) ConsumeText(blockwise, 1000), ConsumeText(bytewise, 1000);
    }
    EXPECT_EQ(std::memcmp(blockwise.bytes, bytewise.bytes, ScriptTextCapacity), 0);
    EXPECT_EQ(blockwise.count, ScriptTextCapacity);  // it wrapped
}

TEST(HistoryView, FindsOlderAndNewerAndBringsTheMatchIntoView) {
    History history;
    ASSERT_TRUE(history.Allocate(1000));
    for (int i = 1; i <= 300; ++i) PushText(history, "line " + std::to_string(i));
    Cell screenCells[ScreenCells];
    for (Cell& cell : screenCells) cell = BlankCell;
    HistoryView view;
    OpenView(view, history);
    std::snprintf(view.search, sizeof view.search, "line 15");
    ASSERT_TRUE(FindInView(view, history, screenCells, true));  // older: line 159 first
    EXPECT_EQ(view.matchRow, 158u);
    ASSERT_TRUE(FindInView(view, history, screenCells, true));
    EXPECT_EQ(view.matchRow, 157u);
    ASSERT_TRUE(FindInView(view, history, screenCells, false));  // newer again
    EXPECT_EQ(view.matchRow, 158u);
    EXPECT_LE(view.top, view.matchRow);
    EXPECT_GT(view.top + ScreenRows, view.matchRow);
    std::snprintf(view.search, sizeof view.search, "line 1");
    view.haveMatch = false;
    MoveView(view, history, ViewMove::Oldest);
    EXPECT_EQ(view.top, 0u);
    ASSERT_TRUE(FindInView(view, history, screenCells, true));
    EXPECT_EQ(view.matchRow, 18u);  // from the view's bottom row: "line 19"
    std::snprintf(view.search, sizeof view.search, "absent");
    EXPECT_FALSE(FindInView(view, history, screenCells, true));
    ViewRows(view, history, screenCells);
    EXPECT_EQ(view.rows[0], Cell('l'));
}

class Receive : public ::testing::Test {
protected:
    History history;
    ReceiveLog log;
    std::unique_ptr<OutputPump> pump{new OutputPump()};
    UnixLineEnds captureEnds;
    std::unique_ptr<ReceiveStyle> style{new ReceiveStyle()};
    Counters counters;
    AnsiFilter ansi;
    bool sevenBit = false;
    std::unique_ptr<ScriptText> scriptText{new ScriptText()};
    ReceiveChain targets{*style, ansi, {history, *pump, sevenBit, counters, *scriptText}};
    RawLogSink rawLog{log};
    RawCaptureSink rawCapture;
    TextLogSink textLog{log};
    TextCaptureSink textCapture{captureEnds};
    char folder[32] = "/tmp/brisvane-receive-XXXXXX";

    void SetUp() override {
        AddSink(targets, SinkStage::Raw, rawLog);
        AddSink(targets, SinkStage::Raw, rawCapture);
        AddSink(targets, SinkStage::Text, textLog);
        AddSink(targets, SinkStage::Text, textCapture);
        ASSERT_NE(mkdtemp(folder), nullptr);
        ASSERT_TRUE(history.Allocate(100));
        ResetScreen();
        sendState = SendState::Idle;
        receiveMode = ReceiveMode::Off;
        outputQueue.count = 0;
    }
    void TearDown() override {
        setrlimit(RLIMIT_FSIZE, &unlimited);
        char ignored[256];
        log.Close(ignored, sizeof ignored);
        std::string command = std::string("rm -rf ") + folder;
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    void Feed(const std::string& bytes) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        ReceiveBlock(targets, reinterpret_cast<const uint8_t*>(bytes.data()), unsigned(bytes.size()), now);
    }
    std::string Path(const char* name) { return std::string(folder) + "/" + name; }
    // A full disk, for regular files: a short write, then EFBIG.
    struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
    void FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &unlimited);
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = {bytes, unlimited.rlim_max};
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(Receive, RowsScrolledOffGoToTheHistoryAndClearingAddsNothing) {
    std::string text;
    for (int i = 1; i <= 30; ++i) text += "line " + std::to_string(i) + "\r\n";
    Feed(text);
    EXPECT_EQ(history.Count(), 7u);  // 30 lines and the empty last row: 7 scrolled off
    EXPECT_EQ(HistoryRow(history, 0), "line 1");
    EXPECT_EQ(HistoryRow(history, 6), "line 7");
    Feed("\x1bH\x1bJ");       // the host clears the screen
    Feed("\x1bY\x37\x20\n");  // ESC Y on row 23, then a line feed scrolls once
    EXPECT_EQ(history.Count(), 8u);
    EXPECT_EQ(HistoryRow(history, 7), "");
    Feed("\xc1\x8a");  // bit 7 is cleared before anything looks at it
    EXPECT_EQ(history.Count(), 9u);
}

TEST_F(Receive, EveryIdentifyRequestIsAnsweredWithTheOriginatedBit) {
    Feed("\x1bZ..\x1bZ");
    unsigned n;
    pump->StageQueued(0, 0);
    const uint8_t* bytes = pump->Pending(&n);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), n), "\x9b\xaf\xcb\x9b\xaf\xcb");
    pump->Clear();
    sevenBit = true;
    Feed("\x1bZ");
    pump->StageQueued(0, 0);
    bytes = pump->Pending(&n);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), n), "\x1b/K");
}

TEST_F(Receive, LogsTextWithStampsAndRawAsReceived) {
    char problem[256];
    ASSERT_EQ(log.Open(Path("text.log").c_str(), Path("raw.log").c_str(), true, problem, sizeof problem),
              PlainFile::Opened);
    std::string sent = "\xc8\x1b[1mi\r\nsecond\r";  // the colour only in the raw log
    Feed(sent);
    Feed("\n\r 50%\r\n");
    EXPECT_TRUE(log.Flush(problem, sizeof problem));
    EXPECT_TRUE(log.Close(problem, sizeof problem));
    EXPECT_EQ(Contents(Path("raw.log")), sent + "\n\r 50%\r\n");
    std::string text = Contents(Path("text.log"));
    std::string stamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )";
    EXPECT_TRUE(std::regex_match(text, std::regex(stamp + "Hi\n" + stamp + "second\n" + stamp + " 50%\n")))
        << text;
    // Appends to what is there.
    ASSERT_EQ(log.Open(Path("text.log").c_str(), "", false, problem, sizeof problem), PlainFile::Opened);
    Feed("more\r\n");
    EXPECT_TRUE(log.Close(problem, sizeof problem));
    EXPECT_EQ(Contents(Path("text.log")).substr(text.size()), "more\n");
}

TEST_F(Receive, TheTextLogHoldsLinesAsTheScreenShowedThemAndSentLinesApart) {
    char problem[256];
    ASSERT_EQ(log.Open(Path("text.log").c_str(), "", false, problem, sizeof problem), PlainFile::Opened);
    Feed("Hit any key to stop autoboot:  3\b\b\b  2\b\b\b  1\b\b\b  0\r\n");
    Feed("\b\bLoading 10%\rLoading 100%\r\nabcdef\rXY\b\bZ");
    Feed("\r\n");
    Feed("login: ");
    StampStyle delta = {};
    ASSERT_TRUE(ParseStampFormat("24h-delta", &delta));
    log.SetStamps(false, delta, true);
    // Bit 7 as keys go out; two erased; an arrow key and an identify reply are no text.
    std::string typed = "root\r\xe6\xef\x7f\x7fls\x9b\xdb\xc1 -l\x9b\xaf\xcb\r\n";
    log.Sent(reinterpret_cast<const uint8_t*>(typed.data()), unsigned(typed.size()));
    Feed("root\r\n");
    EXPECT_TRUE(log.Close(problem, sizeof problem));
    std::string text = Contents(Path("text.log"));
    std::string lines = text.substr(0, text.find("[+"));
    EXPECT_EQ(lines, "Hit any key to stop autoboot:  0\nLoading 100%\nZYcdef\n");
    std::string stamp = R"(\[\+00:00:\d\d\.\d{3}\] )";
    EXPECT_TRUE(
        std::regex_match(text.substr(lines.size()),
                         std::regex(stamp + "> root\n" + stamp + "> ls -l\n" + stamp + "< login: root\n")))
        << text;
}

TEST_F(Receive, AFullDiskEndsThatLogAndSaysWhatTheFileHolds) {
    char problem[256];
    ASSERT_EQ(log.Open(Path("text.log").c_str(), Path("raw.log").c_str(), false, problem, sizeof problem),
              PlainFile::Opened);
    FileSizeLimit(4096);
    Feed(std::string(5000, 'x') + "\r\n");
    EXPECT_FALSE(log.Flush(problem, sizeof problem));
    std::string said = problem;
    EXPECT_EQ(said.find("log "), 0u) << said;
    EXPECT_NE(said.find("/text.log: File too large; holds 4096 bytes, the rest is lost"), std::string::npos)
        << said;
    // The raw log's failure is said at its own turn; then both are closed.
    EXPECT_FALSE(log.Flush(problem, sizeof problem));
    EXPECT_EQ(std::string(problem).find("raw log "), 0u) << problem;
    EXPECT_FALSE(log.Active());
    EXPECT_EQ(Contents(Path("text.log")).size(), 4096u);
}

// A recording on a full disk ends with a message and keeps what it holds;
// with a size it rotates at an event's edge, each file a whole recording.
TEST_F(Receive, ARecordingEndsOnAFullDiskAndRotatesWhole) {
    RecordingHeader header = {};
    header.lines = 1;
    std::snprintf(header.line[0].label, sizeof header.line[0].label, "line");
    std::string block(3000, 'r');
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(block.data());
    auto events = [](const std::string& file, EventRead* end) {
        const uint8_t* data = reinterpret_cast<const uint8_t*>(file.data());
        RecordingHeader read;
        const char* problem = "";
        unsigned long long offset = ReadRecordingHeader(data, file.size(), &read, &problem);
        uint64_t time = 0;
        RecordEvent event;
        unsigned count = 0;
        while (offset != 0 && (*end = ReadEvent(data, file.size(), &offset, read.lines, &time, &event)) ==
                                  EventRead::Event) {
            ++count;
        }
        return count;
    };
    {
        Recorder recorder;
        int error = 0;
        ASSERT_EQ(recorder.Open(Path("full.bvrec").c_str(), header, {}, {}, &error), PlainFile::Opened);
        FileSizeLimit(4096);
        recorder.Event(RecordKind::Received, 0, bytes, 3000);
        recorder.WriteOut();
        recorder.Event(RecordKind::Received, 0, bytes, 3000);
        recorder.WriteOut();
        setrlimit(RLIMIT_FSIZE, &unlimited);
        char problem[256];
        EXPECT_TRUE(recorder.TakeProblem(problem, sizeof problem));
        EXPECT_NE(std::string(problem).find("ended: File too large"), std::string::npos) << problem;
        EXPECT_FALSE(recorder.TakeProblem(problem, sizeof problem));  // said once
        EXPECT_FALSE(recorder.Active());
        recorder.Event(RecordKind::Received, 0, bytes, 3000);  // nothing more, and no harm
        EventRead end;
        EXPECT_EQ(events(Contents(Path("full.bvrec")), &end), 1u);
        EXPECT_EQ(end, EventRead::Torn);
    }
    Recorder recorder;
    int error = 0;
    ASSERT_EQ(recorder.Open(Path("turn.bvrec").c_str(), header, {8192, 3}, {}, &error), PlainFile::Opened);
    for (int i = 0; i < 10; ++i) recorder.Event(RecordKind::Received, 0, bytes, 3000);
    char problem[256];
    EXPECT_TRUE(recorder.Close(problem, sizeof problem)) << problem;
    unsigned total = 0;
    for (const char* name : {"turn.bvrec", "turn.bvrec.1", "turn.bvrec.2", "turn.bvrec.3"}) {
        std::string file = Contents(Path(name));
        EventRead end = EventRead::Broken;
        total += events(file, &end);
        EXPECT_EQ(end, EventRead::End) << name;  // whole events only, each file its own header
        EXPECT_LE(file.size(), 8192u) << name;
    }
    EXPECT_EQ(total, 8u);  // two per file: the oldest file went, as logs' do
    EXPECT_EQ(access(Path("turn.bvrec.4").c_str(), F_OK), -1);
}

TEST_F(Receive, LogsTakeRegularFilesOrDevNullAndSayWhichLogWasRemoved) {
    char problem[256];
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(log.Open(Path("fifo").c_str(), "", false, problem, sizeof problem), PlainFile::NotPlain);
    EXPECT_EQ(std::string(problem),
              "--log " + Path("fifo") + ": not a plain file (give a file, or /dev/null)");
    EXPECT_EQ(log.Open("", folder, false, problem, sizeof problem), PlainFile::Folder);
    EXPECT_EQ(std::string(problem).find("--log-raw "), 0u);
    EXPECT_EQ(log.Open("/dev/zero", "", false, problem, sizeof problem), PlainFile::NotPlain);
    EXPECT_EQ(log.Open(Path("no/such/folder").c_str(), "", false, problem, sizeof problem),
              PlainFile::Failed);
    EXPECT_NE(std::string(problem).find("cannot open the log"), std::string::npos);
    EXPECT_FALSE(log.Active());
    ASSERT_EQ(log.Open("/dev/null", Path("raw.log").c_str(), false, problem, sizeof problem),
              PlainFile::Opened);
    EXPECT_FALSE(log.CheckRemoved(0, problem, sizeof problem));
    ASSERT_EQ(unlink(Path("raw.log").c_str()), 0);
    EXPECT_FALSE(log.CheckRemoved(1, problem, sizeof problem));  // not checked again this soon
    EXPECT_TRUE(log.CheckRemoved(10000, problem, sizeof problem));
    EXPECT_EQ(std::string(problem).find("raw log ..."), 0u) << problem;
    EXPECT_NE(std::string(problem).find("/raw.log was removed: made again"), std::string::npos) << problem;
    EXPECT_FALSE(log.CheckRemoved(20000, problem, sizeof problem));  // said once
}

TEST_F(Receive, TextCaptureGetsUnixLineEndsAndRawCaptureShowsNothing) {
    captureFile = open(Path("text.cap").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureText;
    Feed(
        "\xc1\x1b[32m"
        "b\r\nc\r");
    CloseFileHandle(captureFile);
    EXPECT_EQ(Contents(Path("text.cap")), "Ab\nc");  // no colour; the last CR waits for what follows
    captureFile = open(Path("raw.cap").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureRaw;
    ResetScreen();
    Feed("\xc1\r\n");
    CloseFileHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    EXPECT_EQ(Contents(Path("raw.cap")), "\xc1\r\n");
    EXPECT_EQ(screen.cells[0], BlankCell);

    // Blocks go in whole, across the writer's buffer and in any order of sizes.
    std::string raw;
    for (unsigned i = 0; i < 150001; ++i) raw += char(i * 7 + i / 251);
    captureFile = open(Path("raw.cap").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureRaw;
    for (size_t at = 0, piece = 1; at < raw.size(); at += piece, piece = piece * 3 % 70001 + 1)
        Feed(raw.substr(at, piece));
    CloseFileHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    EXPECT_TRUE(Contents(Path("raw.cap")) == raw);
}

// What a capture reports is what its file holds: a text capture writes
// fewer bytes than it receives, and a full disk keeps only a part.
TEST_F(Receive, CaptureCountsBytesWrittenAndRefusesWhatWouldBlock) {
    Transfers t;
    Notice notice = {};
    t.pendingCapture = ReceiveMode::CaptureText;
    ChooseCapture(t, folder, "text.cap", notice);
    ASSERT_EQ(receiveMode, ReceiveMode::CaptureText) << notice.text;
    Feed("one\r\ntwo\r\n");
    CaptureWritten(t, notice);
    EndCaptureCommand(t, notice);
    EXPECT_STREQ(notice.text, "capture ended: 8 bytes in text.cap");

    t.pendingCapture = ReceiveMode::CaptureRaw;
    ChooseCapture(t, folder, "raw.cap", notice);
    ASSERT_EQ(receiveMode, ReceiveMode::CaptureRaw);
    FileSizeLimit(4096);
    Feed(std::string(70000, 'x'));  // more than the writer's buffer: two writes fail
    CaptureWritten(t, notice);
    EXPECT_STREQ(notice.text, "capture raw.cap: File too large; holds 4096 bytes, the rest is lost");
    EXPECT_EQ(receiveMode, ReceiveMode::Off);

    // An existing FIFO is refused before the overwrite question.
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    t.pendingCapture = ReceiveMode::CaptureRaw;
    ChooseCapture(t, folder, "fifo", notice);
    EXPECT_STREQ(notice.text, "cannot open file: fifo: not a plain file");
    EXPECT_FALSE(t.askingOverwrite);
    EXPECT_EQ(receiveMode, ReceiveMode::Off);
}

std::string ScreenRow(int row) {
    std::string text;
    for (int col = 0; col < ScreenColumns; ++col) text += char(screen.cells[row * ScreenColumns + col]);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

TEST_F(Receive, MapsReachTheScreenTheTextLogAndCaptureButNotTheRawLog) {
    char problem[256];
    ASSERT_EQ(log.Open(Path("text.log").c_str(), Path("raw.log").c_str(), false, problem, sizeof problem),
              PlainFile::Opened);
    captureFile = open(Path("text.cap").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureText;
    style->maps = MapInLfCrlf;
    Feed("one\ntwo\n");
    style->maps = MapInIgnoreCr;
    Feed("x\ry\n");
    log.Close(problem, sizeof problem);
    CloseFileHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    EXPECT_EQ(ScreenRow(0), "one");
    EXPECT_EQ(ScreenRow(1), "two");  // no staircase
    EXPECT_EQ(ScreenRow(2), "xy");
    EXPECT_EQ(Contents(Path("raw.log")), "one\ntwo\nx\ry\n");
    EXPECT_EQ(Contents(Path("text.log")), "one\ntwo\nxy\n");
    EXPECT_EQ(Contents(Path("text.cap")), "one\ntwo\nxy\n");
}

TEST_F(Receive, TheHexViewShowsAKnownRunAndKeepsItsRowsInTheHistory) {
    Feed("before");
    SetHexView(targets, true);
    std::string run;
    for (int i = 0; i < 40; ++i) run += char(i * 7);
    for (int row = 0; row < 24; ++row) Feed(run.substr(0, 16));  // 24 full rows scroll the first ones off
    Feed(run.substr(16, 3));
    EXPECT_EQ(HistoryRow(history, 0), "before");
    EXPECT_EQ(HistoryRow(history, 1),
              "00000000  00 07 0e 15 1c 23 2a 31  38 3f 46 4d 54 5b 62 69  .....#*18?FMT[bi");
    EXPECT_EQ(ScreenRow(22), "00000170  00 07 0e 15 1c 23 2a 31  38 3f 46 4d 54 5b 62 69  .....#*18?FMT[bi");
    EXPECT_EQ(ScreenRow(23), "00000180  70 77 7e                                          pw~");
    Feed(run.substr(19, 1));  // the row being filled is redrawn in place
    EXPECT_EQ(ScreenRow(23), "00000180  70 77 7e 85                                       pw~.");
    SetHexView(targets, false);
    Feed("text");
    EXPECT_EQ(ScreenRow(23), "text");
    EXPECT_EQ(ScreenRow(22), "00000180  70 77 7e 85                                       pw~.");
}

// A recording: a header with two lines, then one event of each kind.
struct SampleEvent {
    RecordKind kind;
    uint8_t line;
    uint64_t time;
    std::string payload;
};

const SampleEvent Sample[] = {
    {RecordKind::Up, 0, 1000, ""},
    {RecordKind::Received, 0, 1500, "U-Boot 2026.01\r\n"},
    {RecordKind::Sent, 0, 2000, std::string("\x01", 1) + "root\r"},
    {RecordKind::Control, 0, 2100, std::string("\x02\x00", 2)},
    {RecordKind::Settings, 1, 2200, "9600,n,8,1"},
    {RecordKind::Received, 1, 200000000,
     std::string("\xff\x00\x1b"
                 "Z",
                 4)},
    {RecordKind::Mark, 0, 200000001, "Starting kernel"},
    {RecordKind::Modem, 1, 200000002, std::string("\x30", 1)},
    {RecordKind::Errors, 0, 200000003, "overrun 1"},
    {RecordKind::Role, 0, 200000004, "alice took the line"},
    {RecordKind::Down, 0, 300000000, "the line went away"},
};

std::string SampleRecording() {
    RecordingHeader header = {};
    std::snprintf(header.program, sizeof header.program, "brisvane 2.4");
    std::snprintf(header.started, sizeof header.started, "2026-12-08T10:49:57.123456Z");
    header.lines = 2;
    header.line[0] = {"dut", "115200,n,8,1", "/dev/serial/by-id/usb-FTDI_A1-if00-port0", false, 0,
                      false, false};
    header.line[1] = {"bmc", "9600,n,8,1", "rfc2217://bmc.lab:7001", false, 0, false, false};
    header.maps = 3;
    header.ansiHidden = true;
    char text[1024];
    std::string out(text, WriteRecordingHeader(header, text, sizeof text));
    uint64_t last = 0;
    for (const SampleEvent& e : Sample) {
        uint8_t frame[RecordingEventHeaderMax];
        unsigned n = EncodeEvent(frame, e.kind, e.line, e.time - last, unsigned(e.payload.size()));
        out.append(reinterpret_cast<const char*>(frame), n);
        out += e.payload;
        last = e.time;
    }
    return out;
}

// The events of `bytes` as read, and how the reading ended.
EventRead ReadAll(const std::string& bytes, std::vector<RecordEvent>* events, RecordingHeader* header) {
    const char* problem = "";
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    unsigned long long offset = ReadRecordingHeader(data, bytes.size(), header, &problem);
    if (offset == 0) return EventRead::Broken;
    uint64_t time = 0;
    RecordEvent event;
    for (;;) {
        EventRead read = ReadEvent(data, bytes.size(), &offset, header->lines, &time, &event);
        if (read != EventRead::Event) return read;
        events->push_back(event);
    }
}

TEST(Recording, TheSampleFilePinsTheFormat) {
    std::ifstream file(BRISVANE_SOURCE_DIR "/tests/support/sample.bvrec", std::ios::binary);
    std::string pinned((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(pinned.empty());
    EXPECT_EQ(SampleRecording(), pinned);  // the encoder writes what the sample holds, byte for byte
    std::vector<RecordEvent> events;
    RecordingHeader header;
    EXPECT_EQ(ReadAll(pinned, &events, &header), EventRead::End);
    EXPECT_STREQ(header.program, "brisvane 2.4");
    EXPECT_STREQ(header.started, "2026-12-08T10:49:57.123456Z");
    ASSERT_EQ(header.lines, 2u);
    EXPECT_STREQ(header.line[1].label, "bmc");
    EXPECT_STREQ(header.line[0].device, "/dev/serial/by-id/usb-FTDI_A1-if00-port0");
    EXPECT_EQ(header.maps, 3);
    EXPECT_TRUE(header.ansiHidden);
    EXPECT_FALSE(header.sevenBit);
    ASSERT_EQ(events.size(), sizeof Sample / sizeof Sample[0]);
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].kind, Sample[i].kind) << i;
        EXPECT_EQ(events[i].line, Sample[i].line) << i;
        EXPECT_EQ(events[i].time, Sample[i].time) << i;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(events[i].payload), events[i].length),
                  Sample[i].payload)
            << i;
    }
}

TEST(Recording, ATornOrBrokenEventEndsTheReadingAndEverythingBeforeItStands) {
    std::string whole = SampleRecording();
    RecordingHeader header;
    std::vector<RecordEvent> all;
    ReadAll(whole, &all, &header);
    const char* problem = "";
    unsigned events =
        ReadRecordingHeader(reinterpret_cast<const uint8_t*>(whole.data()), whole.size(), &header, &problem);
    // A crash may cut the file anywhere: the header first, then any event.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        std::vector<RecordEvent> seen;
        EventRead end = ReadAll(whole.substr(0, cut), &seen, &header);
        if (cut < events) {
            EXPECT_EQ(end, EventRead::Broken) << cut;
            continue;
        }
        EXPECT_TRUE(end == EventRead::Torn || end == EventRead::End) << cut;
        for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i].time, all[i].time) << cut;
    }
    // A byte changed in an event's framing is found there, not read as data.
    std::string changed = whole;
    changed[events + 1] = 7;  // the first event's line: not in the header
    std::vector<RecordEvent> seen;
    EXPECT_EQ(ReadAll(changed, &seen, &header), EventRead::Broken);
    EXPECT_TRUE(seen.empty());
    changed = whole;
    changed[events + 3] ^= 0x10;  // its length
    EXPECT_EQ(ReadAll(changed, &seen, &header), EventRead::Broken);
    // Not a recording, a later version, a header with no line: refused, saying so.
    for (const char* text : {"hello\n\n", "brisvane recording 2\nline a 9600 x\n\n",
                             "brisvane recording 1\n\n", "brisvane recording 1\nline a"}) {
        EXPECT_EQ(
            ReadRecordingHeader(reinterpret_cast<const uint8_t*>(text), std::strlen(text), &header, &problem),
            0u)
            << text;
    }
    EXPECT_STREQ(problem, "the recording's header is cut short");
}

TEST(Recording, ACastDrawsOnlyTheRowsThatChangedAndEscapesItsText) {
    std::vector<Cell> before(ScreenCells, BlankCell), after(ScreenCells, BlankCell);
    after[2 * ScreenColumns + 0] = 'h';
    after[2 * ScreenColumns + 1] = 'i';
    after[23 * ScreenColumns + 79] = 0x2588;  // a graphics block, in the last cell
    EXPECT_EQ(CastFrame(before.data(), after.data(), 2, 2, true),
              "\x1b[3;1Hhi\x1b[K\x1b[24;1H" + std::string(79, ' ') + "\xe2\x96\x88\x1b[3;3H");
    EXPECT_EQ(CastFrame(after.data(), after.data(), 2, 2, false), "");  // nothing moved
    EXPECT_EQ(CastFrame(nullptr, before.data(), 0, 0, false).substr(0, 7), "\x1b[H\x1b[2J");
    EXPECT_EQ(CastLine(1.5, "o", "a\"b\\c\x1b\n"), "[1.500000, \"o\", \"a\\\"b\\\\c\\u001b\\u000a\"]\n");
    EXPECT_EQ(CastHeader(1765191000),
              "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": 1765191000}\n");
}

}  // namespace
