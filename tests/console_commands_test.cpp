// The menu's one table and what reads it (the keys, the menu line, the help
// page, the manual), and commands carried out on a console with a fake line:
// refusals without a line, the controls, the one way out, and what a
// recording of several lines holds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "console/program/commands.h"
#include "console/program/connection.h"
#include "console/program/line_controls.h"
#include "console/program/pulses.h"
#include "console/program/record_lines.h"
#include "console/program/recorded.h"
#include "console/rules/menu.h"
#include "console/program/send.h"
#include "core/screen.h"
#include "tests/support/fake_line.h"
#include "tests/support/with_front.h"

namespace {

TranslatedKey Key(uint8_t b) { return TranslatedKey{KeyAction::Byte, b, TerminalKey::Count, false}; }

std::string Words(const MenuStep& step) { return step.kind == MenuStepKind::Run ? step.entry->words : "-"; }

TEST(MenuTable, KeysAfterThePrefixFindTheirEntries) {
    MenuTable table = CommandTable();
    MenuLevel level = MenuLevel::Closed;
    auto press = [&](uint8_t b) { return MenuKey(level, 1, Key(b), table); };
    EXPECT_EQ(press('x').kind, MenuStepKind::PassKey);
    EXPECT_EQ(press(1).kind, MenuStepKind::Opened);
    EXPECT_EQ(press(1).kind, MenuStepKind::SendPrefix);
    EXPECT_EQ(level, MenuLevel::Closed);
    press(1);
    EXPECT_EQ(press('s').kind, MenuStepKind::Opened);
    EXPECT_EQ(Words(press('B')), "binary");  // either case in a submenu
    press(1);
    press('r');
    EXPECT_EQ(press('b').kind, MenuStepKind::Cancelled);  // no binary capture
    press(1);
    EXPECT_EQ(MenuKey(level, 1, TranslatedKey{KeyAction::Sequence, 0, TerminalKey::Up, false}, table).kind,
              MenuStepKind::Cancelled);
    EXPECT_EQ(press('x').kind, MenuStepKind::PassKey);
    press(1);
    EXPECT_EQ(Words(press('D')), "reset");  // d toggles, D pulses
    press(1);
    EXPECT_EQ(Words(press('S')), "script");  // s sends, S runs a script
    press(1);
    EXPECT_EQ(press('s').kind, MenuStepKind::Opened);
    press(27);
    press(1);
    EXPECT_EQ(Words(press('d')), "dtr");
    press(1);
    EXPECT_EQ(Words(press('X')), "exit");
    press(1);
    EXPECT_EQ(Words(press('?')), "help");

    std::set<std::pair<int, char>> seen;  // no letter twice at one level
    for (unsigned i = 0; i < table.count; ++i) {
        EXPECT_TRUE(seen.insert({int(table.entries[i].level), table.entries[i].letter}).second)
            << table.entries[i].letter;
    }
}

TEST(MenuTable, TheMenuLineShowsWhatFitsAndAlwaysHelp) {
    MenuTable table = CommandTable();
    char text[512];
    for (int width : {80, 100, 40, 12}) {
        ComposeMenuLine(MenuLevel::Top, table, width, text, sizeof text);
        std::string line = text;
        EXPECT_LE(int(line.size()) + 1, width < 14 ? 14 : width) << line;  // the status line adds a space
        EXPECT_EQ(line.substr(line.size() - 6), "? help") << width;
        EXPECT_EQ(line.rfind("menu:", 0), 0u);
    }
    ComposeMenuLine(MenuLevel::Top, table, 80, text, sizeof text);
    EXPECT_NE(std::string(text).find("b break"), std::string::npos) << text;
    ComposeMenuLine(MenuLevel::Top, table, 200, text, sizeof text);
    EXPECT_NE(std::string(text).find("l redraw  a ansi  7 7-bit  S script  H hex"), std::string::npos)
        << text;
    ComposeMenuLine(MenuLevel::Receive, table, 80, text, sizeof text);
    EXPECT_STREQ(text, "receive: r raw  t text  x xmodem  y ymodem  z zmodem  e end");
    ComposeMenuLine(MenuLevel::Closed, table, 80, text, sizeof text);
    EXPECT_STREQ(text, "");
}

TEST(MenuTable, TheHelpPageHoldsEveryCommandOnTheScreen) {
    MenuTable table = CommandTable();
    const int Rows = 24, Columns = 80;
    char rows[Rows][Columns + 1];
    int used = ComposeHelpPage(table, "Ctrl-A", &rows[0][0], Rows, Columns);
    EXPECT_LE(used, Rows);
    std::string page;
    for (int r = 0; r < Rows; ++r) {
        EXPECT_LE(std::string(rows[r]).size(), size_t(Columns)) << r;
        page += std::string(rows[r]) + "\n";
    }
    EXPECT_NE(page.find("Ctrl-A"), std::string::npos);
    for (unsigned i = 0; i < table.count; ++i) {
        const MenuEntry& e = table.entries[i];
        if (e.run == nullptr || e.help == nullptr) continue;  // listed with another
        std::string keys = e.level == MenuLevel::Top
                               ? (e.letter == '\t'  ? "Tab"
                                  : e.letter == '1' ? "1-9"
                                                    : std::string(1, e.letter))
                               : std::string(e.level == MenuLevel::Send ? "s " : "r ") + e.letter;
        EXPECT_NE(page.find(keys + std::string(5 - keys.size(), ' ') + e.help), std::string::npos) << page;
    }
}

// The manual's "THE MENU" section names the same letters as the table.
TEST(MenuTable, TheManualListsTheSameLetters) {
    std::ifstream file(BRISVANE_SOURCE_DIR "/doc/brisvane.1.scd");
    ASSERT_TRUE(file) << "doc/brisvane.1.scd";
    std::string line;
    bool inMenu = false;
    std::set<std::string> manual, table;
    while (std::getline(file, line)) {
        if (line.rfind("# ", 0) == 0) inMenu = line == "# THE MENU";
        if (inMenu && line == "*Tab*") manual.insert("Tab");
        if (!inMenu || line.size() < 3 || line[0] != '*' || line[2] != '*') continue;
        // "*s* then *r*, *b*, *t* or *e*" names a submenu and its letters.
        std::string first(1, line[1]);
        if (line.find(" then ") == std::string::npos) {
            manual.insert(first);
            continue;
        }
        for (size_t at = line.find(" then "); (at = line.find('*', at)) != std::string::npos; at += 3) {
            manual.insert(first + " " + line[at + 1]);
        }
    }
    MenuTable t = CommandTable();
    for (unsigned i = 0; i < t.count; ++i) {
        const MenuEntry& e = t.entries[i];
        if (e.run == nullptr || e.words == nullptr) continue;  // 2 to 9 go with 1
        table.insert(e.level == MenuLevel::Top
                         ? (e.letter == '\t' ? "Tab" : std::string(1, e.letter))
                         : std::string(e.level == MenuLevel::Send ? "s " : "r ") + e.letter);
    }
    EXPECT_EQ(manual, table);
}

// The manual's OPTIONS section names the options of the table, no more, no
// fewer.
TEST(OptionTable, TheManualListsTheSameOptions) {
    std::ifstream file(BRISVANE_SOURCE_DIR "/doc/brisvane.1.scd");
    ASSERT_TRUE(file) << "doc/brisvane.1.scd";
    std::string line;
    bool inOptions = false;
    std::set<std::string> manual, table;
    while (std::getline(file, line)) {
        if (line.rfind("# ", 0) == 0) inOptions = line == "# OPTIONS";
        if (!inOptions || line.rfind("*--", 0) != 0) continue;
        // "*--dtr* *on*|*off*, *--rts* *on*|*off*" names two.
        for (size_t at = 0; (at = line.find("*--", at)) != std::string::npos; at += 3) {
            size_t end = line.find('*', at + 3);
            manual.insert(line.substr(at + 1, end - at - 1));
        }
    }
    char listed[256];
    for (unsigned i = 0; OptionListing(i, listed, sizeof listed); ++i) {
        table.insert(std::string(listed).substr(0, std::string(listed).find(' ')));
    }
    EXPECT_EQ(manual, table);
}

class Commands : public ::testing::Test {
protected:
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    FakeLine* line = new FakeLine();
    void SetUp() override {
        Session& c = *console;
        DefaultOptions(&c.options);
        std::snprintf(c.options.device, sizeof c.options.device, "/dev/ttyUSB0");
        c.link.controls = {c.options.line, false, -1, -1};
        c.link.line.reset(line);
        c.link.state = LinkState::Open;
    }
    Reaction Menu(char letter, int64_t now = 1000) {
        Session& c = *console;
        c.ui.menu = MenuLevel::Top;
        return RunMenuStep(c, MenuKey(c.ui.menu, c.options.prefixKey, Key(uint8_t(letter)), CommandTable()),
                           now);
    }
};

TEST_F(Commands, LineControlsGoToTheLineAndEndOnTime) {
    Session& c = *console;
    EXPECT_EQ(Menu('b', 1000), Nothing);
    EXPECT_STREQ(c.notice.text, "break sent");
    EXPECT_EQ(c.link.breakEndsAt, 1000 + BreakMilliseconds);
    EndTimedControls(c, 1000 + BreakMilliseconds);
    Menu('D', 2000);
    EndTimedControls(c, 2000 + DtrPulseMilliseconds);
    Menu('d');
    EXPECT_EQ(line->calls, "break on; break off; dtr off; dtr on; dtr off; ");
    EXPECT_FALSE(ModemOutputOn(c, ModemOutput::Dtr));
    c.link.controls.hardwareFlow = true;
    Menu('t');  // RTS belongs to the flow control then, for a script too
    EXPECT_EQ(SetModemOutput(c, ModemOutput::Rts, false, nullptr), ControlResult::Refused);
    EXPECT_EQ(line->calls.find("rts"), std::string::npos);
    line->controlResult = ControlResult::Refused;
    Menu('d');
    EXPECT_STREQ(c.notice.text, "the line refused the modem lines (DTR, RTS)");
    EXPECT_FALSE(ModemOutputOn(c, ModemOutput::Dtr));  // not recorded as set
}

// One recording for two lines: the header names both, each line's events
// carry its index, and the modem inputs and error counts are events when
// they move (and only then), the inputs again after the line comes back;
// a line that draws otherwise than the first says how.
TEST_F(Commands, OneRecordingHoldsEveryLineWithItsModemInputsAndErrorCounts) {
    char folder[] = "/tmp/bv-record-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/two.bvrec";
    std::unique_ptr<Session> lines[2] = {std::move(console), std::unique_ptr<Session>(new Session())};
    Session &dut = *lines[0], &bmc = *lines[1];
    FakeLine* other = new FakeLine();
    bmc.front = front.get();
    DefaultOptions(&bmc.options);
    bmc.link.line.reset(other);
    bmc.link.state = LinkState::Open;
    std::snprintf(dut.label, sizeof dut.label, "dut");
    std::snprintf(bmc.label, sizeof bmc.label, "bmc");
    std::snprintf(dut.options.device, sizeof dut.options.device, "/dev/ttyUSB0");
    std::snprintf(bmc.options.device, sizeof bmc.options.device, "/dev/ttyUSB1");
    bmc.options.maps = 5;  // drawn otherwise than the first line: its replay draws as it did
    EXPECT_EQ(RecordedLinesDue(dut), NoDeadline);  // nothing is looked at without a recording
    std::snprintf(dut.options.recordPath, sizeof dut.options.recordPath, "%s", path.c_str());
    char message[512];
    bool usage = true;
    ASSERT_TRUE(StartRecordings(lines, 2, "9.9", message, sizeof message, &usage)) << message;
    EXPECT_EQ(RecordedLinesDue(bmc), 0);
    line->modemKnown = line->errorsKnown = true;
    line->modem.cts = line->modem.dcd = true;
    PollRecordedLines(dut, 0);
    EXPECT_EQ(RecordedLinesDue(dut), 100);
    PollRecordedLines(dut, 100);  // nothing moved: nothing recorded
    line->errors.overrun = 2;
    line->modem.dtr = true;  // an output: not the inputs' event
    PollRecordedLines(dut, 200);
    other->modemKnown = true;
    other->modem.ri = true;
    PollRecordedLines(bmc, 200);
    PollRecordedLines(bmc, 300);
    RecordWritten(bmc, RecordSource::Key, reinterpret_cast<const uint8_t*>("k"), 1);
    bmc.recorderSink.Take(reinterpret_cast<const uint8_t*>("hi"), 2, {});
    RecordText(dut, RecordKind::Down, "gone");
    RecordText(dut, RecordKind::Up, "");
    PollRecordedLines(dut, 5000);  // the inputs as they are on the line come back
    EXPECT_TRUE(dut.features.recorder.Close(message, sizeof message)) << message;

    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    RecordingHeader header;
    const char* problem = "";
    unsigned long long offset = ReadRecordingHeader(data, bytes.size(), &header, &problem);
    ASSERT_NE(offset, 0u) << problem;
    ASSERT_EQ(header.lines, 2u);
    EXPECT_STREQ(header.line[0].label, "dut");
    EXPECT_STREQ(header.line[1].label, "bmc");
    EXPECT_STREQ(header.line[1].device, "/dev/ttyUSB1");
    EXPECT_EQ(header.maps, dut.options.maps);
    ShowRecordedLine(&header, 1);
    EXPECT_EQ(header.maps, 5);
    EXPECT_EQ(RecordingLineIndex(header, "bmc"), 1);
    EXPECT_EQ(RecordingLineIndex(header, ""), 0);
    EXPECT_EQ(RecordingLineIndex(header, "psu"), -1);
    std::vector<std::string> seen;
    uint64_t time = 0;
    RecordEvent event;
    while (ReadEvent(data, bytes.size(), &offset, header.lines, &time, &event) == EventRead::Event) {
        seen.push_back(std::to_string(int(event.kind)) + " " + std::to_string(event.line) + " " +
                       std::string(reinterpret_cast<const char*>(event.payload), event.length));
    }
    std::vector<std::string> expected = {"4 0 \x90", "9 0 framing 0 overrun 2 parity 0 break 0",
                                         "4 1 @",    "2 1 \x01k",
                                         "1 1 hi",   "6 0 gone",
                                         "7 0 ",     "4 0 \x90"};
    EXPECT_EQ(seen, expected);
    unlink(path.c_str());
    rmdir(folder);
}

// The send table, a rule at a time: what each source's bytes become on the
// wire, and what happens to those the line cannot take.
class SendTable : public Commands {
protected:
    unsigned Give(SendSource source, const std::string& bytes) {
        return Send(*console, source, reinterpret_cast<const uint8_t*>(bytes.data()), unsigned(bytes.size()));
    }
    std::string Wire() {
        OutputPump& pump = console->pump;
        std::string wire;
        for (pump.StageQueued(0, 0); !pump.StageEmpty(); pump.StageQueued(0, 0)) {
            unsigned n;
            const uint8_t* bytes = pump.Pending(&n);
            wire.append(reinterpret_cast<const char*>(bytes), n);
            pump.Wrote(n, 0, 0);
        }
        return wire;
    }
};

TEST_F(SendTable, MapsAndBit7ApplyToWhatTheTerminalOriginates) {
    Session& c = *console;
    c.style.maps = MapOutCrCrlf;
    c.options.sevenBit = false;  // --eight-bit: the terminal's own bit 7
    const std::pair<SendSource, const char*> expected[] = {
        {SendSource::Key, "\x8d\x8a"},     {SendSource::Paste, "\x8d\x8a"}, {SendSource::HexInput, "\r"},
        {SendSource::ShareClient, "\x8d"}, {SendSource::Script, "\x8d"},    {SendSource::ScriptRaw, "\r"},
        {SendSource::BatchInput, "\x8d"},
    };
    for (auto [source, wire] : expected) {
        EXPECT_EQ(Give(source, "\r"), 1u);
        EXPECT_EQ(Wire(), wire) << SendRuleOf(source).what;
    }
    c.options.sevenBit = true;
    Give(SendSource::Key, "\xe9\r");
    EXPECT_EQ(Wire(), "i\r\n");
}

TEST_F(SendTable, ATransferOrTheHistoryRefusesTheUsersBytesAndATransferHoldsTheProgramsBytes) {
    Session& c = *console;
    c.features.protocol.active = true;
    EXPECT_EQ(Give(SendSource::Key, "a"), 0u);
    EXPECT_STREQ(c.notice.text, "not sent: a transfer runs (the menu key then e ends it)");
    EXPECT_EQ(c.counters.dropped, 1u);
    Forget(c.notice);
    for (SendSource held : {SendSource::ShareClient, SendSource::Script, SendSource::BatchInput}) {
        EXPECT_EQ(Give(held, "b"), 0u);
    }
    EXPECT_EQ(c.notice.text[0], '\0');
    EXPECT_EQ(c.counters.dropped, 1u);
    c.features.protocol.active = false;
    c.ui.view.open = true;  // the history has the keys: a paste is not sent under it
    EXPECT_EQ(Give(SendSource::Paste, "p"), 0u);
    EXPECT_STREQ(c.notice.text, "not sent: the history is shown (q leaves it)");
    c.ui.view.open = false;
    EXPECT_EQ(Wire(), "");
}

TEST_F(SendTable, EchoShowsOnlyWhatTheUserSent) {
    Session& c = *console;
    ResetScreen();
    c.style.echo = true;
    c.options.sevenBit = false;
    Give(SendSource::Script, "s");
    Give(SendSource::ShareClient, "c");
    Give(SendSource::Key, "k");
    Give(SendSource::HexInput, "h");
    EXPECT_EQ(screen.cells[0], Cell('k'));
    EXPECT_EQ(screen.cells[1], Cell('h'));
    EXPECT_EQ(Wire(), "\xf3\xe3\xebh");
}

TEST_F(SendTable, WhatDoesNotFitIsDroppedAndCountedOrLeftToItsProducer) {
    Session& c = *console;
    static uint8_t filler[TypedCapacity - 2];
    ASSERT_TRUE(c.pump.Queue(filler, sizeof filler, false));
    EXPECT_EQ(Give(SendSource::Script, "abc"), 0u);       // all or nothing, kept: the script waits
    EXPECT_EQ(Give(SendSource::ShareClient, "abc"), 2u);  // the client keeps "c"
    EXPECT_EQ(c.counters.dropped, 0u);
    c.pump.Clear();
    ASSERT_TRUE(c.pump.Queue(filler, sizeof filler, false));
    EXPECT_EQ(Give(SendSource::Key, "\x1b[A"), 0u);
    EXPECT_STREQ(c.notice.text, "65534 bytes wait for the line: the key was not sent");
    EXPECT_EQ(Give(SendSource::Paste, "xyz"), 2u);
    EXPECT_STREQ(c.notice.text, "the paste did not fit in what waits for the line: the rest was not sent");
    EXPECT_EQ(c.counters.dropped, 4u);
    c.link.state = LinkState::Down;
    EXPECT_EQ(Give(SendSource::BatchInput, "q"), 0u);
    EXPECT_EQ(Give(SendSource::HexInput, "q"), 0u);
    EXPECT_STREQ(c.notice.text, "not connected: the hex bytes were not sent");
    EXPECT_EQ(c.counters.dropped, 5u);
}

TEST_F(Commands, PulsesAtTheFirstOpenGoInOrderOnTheLoopsClock) {
    Session& c = *console;
    const char* fault = nullptr;
    ASSERT_TRUE(ParsePulses("DTR=100,RTS=50", c.options.pulses, &c.options.pulseCount, &fault));
    StartPulses(c, 1000);
    EXPECT_EQ(line->calls, "dtr off; ");
    ServePulses(c, 1099);
    EXPECT_EQ(PulsesDeadline(c), 1100);
    ServePulses(c, 1100);
    ServePulses(c, 1150);
    EXPECT_EQ(line->calls, "dtr off; dtr on; rts off; rts on; ");
    EXPECT_EQ(PulsesDeadline(c), NoDeadline);
    StartPulses(c, 5000);  // a reconnect: no reset again
    EXPECT_EQ(line->calls, "dtr off; dtr on; rts off; rts on; ");

    // A line without modem lines: said once, and nothing waits.
    c.features.pulses = PulseRun();
    line->controlResult = ControlResult::Unsupported;
    StartPulses(c, 6000);
    EXPECT_STREQ(c.notice.text, "/dev/ttyUSB0 cannot pulse DTR: started without the reset");
    EXPECT_EQ(PulsesDeadline(c), NoDeadline);
}

TEST_F(Commands, WithoutALineTheyAreRefusedAndNothingIsSent) {
    Session& c = *console;
    c.link.state = LinkState::Down;
    for (char letter : {'b', 'd', 'D', 'p', 'f', 'm'}) {
        EXPECT_EQ(Menu(letter), Nothing);
        EXPECT_STREQ(c.notice.text, "not connected: /dev/ttyUSB0 is not open") << letter;
    }
    EXPECT_EQ(line->calls, "");
    Menu('c');  // the screen's own commands still work
    EXPECT_FALSE(c.ui.prompt.active);
    Menu('?');
    EXPECT_TRUE(c.ui.helpOpen);
}

TEST_F(Commands, LeavingIsAReactionWithItsCode) {
    Session& c = *console;
    c.exitCode = 7;
    EXPECT_EQ(Menu('x'), Quit);
    EXPECT_EQ(c.exitCode, 0);
    EXPECT_EQ(Menu('l'), RedrawAll);

    c.options.reconnect = false;
    EXPECT_EQ(LineLost(c, 5000), Quit);
    EXPECT_EQ(c.exitCode, 1);
    c.options.reconnect = true;
    c.link.state = LinkState::Open;
    EXPECT_EQ(LineLost(c, 5000), Nothing);
    EXPECT_EQ(c.link.state, LinkState::Down);
    EXPECT_EQ(c.link.retryAt, 5000 + RetryMilliseconds);
}

TEST_F(Commands, EchoShowsWhatIsSentAndMapsChangeIt) {
    Session& c = *console;
    ResetScreen();
    auto type = [&](const char* text) {
        for (const char* at = text; *at != '\0'; ++at)
            Send(c, SendSource::Key, reinterpret_cast<const uint8_t*>(at), 1);
    };
    auto queued = [&]() {
        c.pump.StageQueued(0, 0);
        unsigned n;
        const uint8_t* bytes = c.pump.Pending(&n);
        std::string wire(reinterpret_cast<const char*>(bytes), n);
        c.pump.Wrote(n, 0, 0);
        return wire;
    };
    type("a\r");
    EXPECT_EQ(screen.cells[0], BlankCell);  // echo is off
    Menu('E');
    EXPECT_STREQ(c.notice.text, "local echo on");
    type("b\rc");
    EXPECT_EQ(screen.cells[0], Cell('b'));
    EXPECT_EQ(screen.cells[ScreenColumns], Cell('c'));  // Enter shows as a new line
    EXPECT_EQ(queued(), "a\rb\rc");                     // bit 7 clear: the default
    Menu('M');
    SetPromptText(c.ui.prompt, "out-cr-crlf,del-bs");
    PromptAnswered(c);
    EXPECT_STREQ(c.notice.text, "line-end maps: out-cr-crlf,del-bs");
    type("\r\x7f");
    EXPECT_EQ(queued(), "\r\n\b");
    Menu('w');
    SetPromptText(c.ui.prompt, "1b 5a ff");
    PromptAnswered(c);
    EXPECT_EQ(queued(), "\x1b\x5a\xff");  // as typed: no bit 7, no maps
    c.link.state = LinkState::Down;
    type("zz");
    Menu('i');
    EXPECT_NE(std::string(c.notice.text).find("sent 0  dropped 2"), std::string::npos) << c.notice.text;
}

}  // namespace
