// The Unix front end's pure rules: settings notation to termios, the command
// line, curses keys to what the host gets, the menu's letters, and the
// timeline of every line's text with its view, where the screens go.
#include <gtest/gtest.h>

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "console/rules/keys.h"
#include "console/rules/layout.h"
#include "console/screen/terminal_keys.h"
#include "console/line/local_line.h"
#include "console/rules/menu.h"
#include "console/rules/options.h"
#include "console/rules/recorded_timeline.h"
#include "console/rules/timeline.h"
#include "console/rules/timeline_view.h"
#include "console/features/profiles.h"
#include "link/settings_notation.h"

namespace {

LineSettings Parse(const char* text, std::string* problem = nullptr) {
    LineSettings settings;
    const char* fault = nullptr;
    bool ok = ParseLineSettings(text, &settings, &fault);
    if (problem != nullptr) *problem = ok ? "" : fault;
    return settings;
}

TEST(SettingsNotation, BothNotationsAndTheirFaults) {
    LineSettings s = Parse("19200,e,7,2");
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.parity, Parity::Even);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, StopBits::Two);
    s = Parse("baud=115200 DATA=7 parity=M");
    EXPECT_EQ(s.baud, 115200u);
    EXPECT_EQ(s.parity, Parity::Mark);
    EXPECT_EQ(s.stopBits, StopBits::One);  // left out: the default
    EXPECT_EQ(Parse("96").baud, 9600u);    // the old two-digit abbreviation
    EXPECT_EQ(Parse("9600,,7").parity, Parity::None);
    char text[32];
    FormatLineSettings(Parse("300,o,5,1.5"), text, sizeof text);
    EXPECT_STREQ(text, "300,o,5,1.5");

    std::string problem;
    for (const char* bad : {"9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "fast", "0", "9600,n,8,1,1",
                            "baud=9600 speed=1", "baud", "99999999999"}) {
        Parse(bad, &problem);
        EXPECT_FALSE(problem.empty()) << bad;
    }
}

TEST(LineAttributes, SettingsBecomeTermiosFlags) {
    struct termios t = {};
    t.c_iflag = IXON | IXOFF | IXANY;  // as another program may leave them
    const char* problem = nullptr;
    bool custom = false;
    ASSERT_TRUE(LineAttributes(Parse("115200,o,7,2"), true, &t, &custom, &problem));
    EXPECT_FALSE(custom);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              tcflag_t(PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);  // raw: Ctrl-C is data
    ASSERT_TRUE(LineAttributes(Parse("9600,s,8,1"), false, &t, &custom, &problem));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CRTSCTS | CSTOPB), tcflag_t(PARENB | CMSPAR));
    // A speed beyond the table is left to termios2.
    ASSERT_TRUE(LineAttributes(Parse("74880"), true, &t, &custom, &problem));
    EXPECT_TRUE(custom);
    EXPECT_FALSE(LineAttributes(Parse("9600,n,5,1.5"), true, &t, &custom, &problem));
}

bool ParseArgs(std::vector<const char*> args, ConsoleOptions* o, std::string* problem = nullptr) {
    args.insert(args.begin(), "brisvane");
    char text[256] = "";
    CommandLine line;
    DefaultOptions(o);
    bool ok = ReadCommandLine(int(args.size()), args.data(), &line, text, sizeof text) &&
              ApplyCommandLine(line, false, o, text, sizeof text);
    if (problem != nullptr) *problem = text;
    return ok;
}

TEST(CommandLine, OptionsDefaultsAndRefusals) {
    ConsoleOptions o;
    ASSERT_TRUE(ParseArgs({"/dev/ttyUSB0"}, &o));
    EXPECT_EQ(o.prefixKey, 1);
    EXPECT_FALSE(o.hardwareFlow);  // three wires, the usual first run
    EXPECT_TRUE(o.sevenBit);
    EXPECT_TRUE(o.reconnect);
    EXPECT_STREQ(o.settingsText, "9600,n,8,1");
    EXPECT_FALSE(o.ansiShown);
    ASSERT_TRUE(
        ParseArgs({"--flow", "rtscts", "/dev/x", "baud=38400 parity=e", "--interval", "10000", "--prefix",
                   "C-]", "--no-reconnect", "--home", "/tmp", "--ansi", "show", "--eight-bit"},
                  &o));
    EXPECT_TRUE(o.ansiShown);
    EXPECT_TRUE(o.hardwareFlow);
    EXPECT_FALSE(o.sevenBit);
    EXPECT_FALSE(o.reconnect);
    EXPECT_STREQ(o.settingsText, "38400,e,8,1");
    EXPECT_EQ(o.characterInterval, 10000u);
    EXPECT_EQ(o.prefixKey, 0x1D);
    EXPECT_STREQ(o.homeDirectory, "/tmp");
    // A served line's name stands for its device.
    ASSERT_TRUE(ParseArgs({"--attach", "board1", "--take", "--log-max", "64K", "--log-keep", "0"}, &o));
    EXPECT_EQ(o.logMaxBytes, 65536u);
    EXPECT_EQ(o.logKeep, 0u);

    std::string problem;
    std::string longPath(PathCapacity, 'x');
    for (std::vector<const char*> bad :
         std::vector<std::vector<const char*>>{{},
                                               {"a", "b", "c"},
                                               {"a", "--prefix"},
                                               {"a", "--prefix", "ab"},
                                               {"a", "--interval", "-5"},
                                               // Each number in its range, however large.
                                               {"a", "--interval", "10001"},
                                               {"a", "--interval", "99999999999999999999"},
                                               {"a", "--line-delay", "60001"},
                                               {"a", "--history", "1000001"},
                                               {"a", "--linger", "3600001"},
                                               {"a", "--timeout", "18446744073709551617"},
                                               {"a", "--map", ",,,"},
                                               {"a", "--map", ""},
                                               {"a", "--share", "tcp:5000", "--share", "tcp:5001"},
                                               {"a", "--serve", "--share", "unix:/x", "--share", "unix:/y"},
                                               {"a", "--share", "unix:/x", "--share", "tcp:5001"},
                                               {"a", "--ansi", "colour"},
                                               {longPath.c_str()},
                                               {"a", "--home", longPath.c_str()},
                                               {"--attach", "x", "--watch", "--take"},
                                               {"--attach", "../x"},
                                               {"--attach", "x", "--serve"},
                                               {"a", "--log-max", "10MB"}}) {
        EXPECT_FALSE(ParseArgs(bad, &o, &problem));
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_FALSE(ParseArgs({"a", "--interval", "10001"}, &o, &problem));
    EXPECT_NE(problem.find("(0..10000)"), std::string::npos) << problem;  // the range, said
    // A served line takes one share of each kind, beside its port accepters.
    ConsoleOptions two;
    ASSERT_TRUE(ParseArgs(
        {"a", "--serve", "--share", "tcp:5000", "--share", "rfc2217:5002", "--share", "unix:/run/x.sock"},
        &two, &problem))
        << problem;
    EXPECT_STREQ(two.share, "tcp:5000");
    EXPECT_STREQ(two.shareOther, "unix:/run/x.sock");
    EXPECT_EQ(two.portShareCount, 1u);
    uint8_t key;
    EXPECT_TRUE(ParsePrefixKey("^a", &key));
    EXPECT_EQ(key, 1);
    EXPECT_TRUE(ParsePrefixKey("ctrl+B", &key));
    EXPECT_EQ(key, 2);
    EXPECT_TRUE(ParsePrefixKey("~", &key));
    EXPECT_EQ(key, '~');
    EXPECT_FALSE(ParsePrefixKey("C-1", &key));
}

TEST(CommandLine, PulsesAndMarksKeepTheirOrderAndOtherLinesAreRefused) {
    ConsoleOptions o;
    ASSERT_TRUE(ParseArgs({"/dev/x", "--pulse", "DTR=100", "--mark", "U-Boot", "--pulse", "rts=50,DTR=20",
                           "--mark", "login:", "--timestamp-format", "%H:%M:%S.%f"},
                          &o));
    ASSERT_EQ(o.pulseCount, 3u);
    EXPECT_EQ((std::vector<std::pair<bool, uint32_t>>{{o.pulses[0].rts, o.pulses[0].milliseconds},
                                                      {o.pulses[1].rts, o.pulses[1].milliseconds},
                                                      {o.pulses[2].rts, o.pulses[2].milliseconds}}),
              (std::vector<std::pair<bool, uint32_t>>{{false, 100}, {true, 50}, {false, 20}}));
    EXPECT_EQ(o.markCount, 2u);
    EXPECT_STREQ(o.marks[1], "login:");
    EXPECT_TRUE(o.timestamps);  // a format implies the stamps
    EXPECT_EQ(o.stampStyle.format, StampFormat::Pattern);

    std::string problem;
    for (const char* bad : {"CTS=100", "DTR=0", "DTR=", "DTR=100,", "DTR=100ms", "DTR=20000"}) {
        EXPECT_FALSE(ParseArgs({"/dev/x", "--pulse", bad}, &o, &problem)) << bad;
        EXPECT_NE(problem.find("DTR=MS or RTS=MS"), std::string::npos) << problem;
    }
    EXPECT_FALSE(
        ParseArgs({"/dev/x", "--pulse", "DTR=1,DTR=1,DTR=1,DTR=1,DTR=1,DTR=1,DTR=1,DTR=1,DTR=1"}, &o));
    EXPECT_FALSE(ParseArgs({"/dev/x", "--timestamp-format", "12h"}, &o));
    EXPECT_FALSE(ParseArgs({"/dev/x", "--mark", ""}, &o));
    // A deadline: the last @ and a number of seconds; a text ending in @ and
    // digits takes one after it.
    ASSERT_TRUE(ParseArgs({"/dev/x", "--mark", "Starting kernel@12s", "--mark", "root@board", "--mark",
                           "user@10@1.5", "--mark", "a@b@"},
                          &o));
    EXPECT_EQ((std::vector<std::pair<std::string, double>>{{o.marks[0], o.markDeadlines[0]},
                                                           {o.marks[1], o.markDeadlines[1]},
                                                           {o.marks[2], o.markDeadlines[2]},
                                                           {o.marks[3], o.markDeadlines[3]}}),
              (std::vector<std::pair<std::string, double>>{
                  {"Starting kernel", 12}, {"root@board", 0}, {"user@10", 1.5}, {"a@b@", 0}}));
    for (const char* bad : {"@5s", "x@0", "x@2000000s"})
        EXPECT_FALSE(ParseArgs({"/dev/x", "--mark", bad}, &o)) << bad;
}

// A profiles file in a fresh folder, read as main reads it.
struct ProfilesFile {
    char folder[32] = "/tmp/brisvane-profiles-XXXXXX";
    std::string path;
    Profiles profiles;
    std::string problem;
    explicit ProfilesFile(const std::string& text) {
        EXPECT_NE(mkdtemp(folder), nullptr);
        path = std::string(folder) + "/config";
        std::ofstream(path) << text;
    }
    ~ProfilesFile() { EXPECT_EQ(std::system((std::string("rm -rf ") + folder).c_str()), 0); }
    bool Read() {
        char text[ProblemCapacity] = "";
        bool ok = ReadProfiles(path.c_str(), true, &profiles, text, sizeof text);
        problem = text;
        return ok;
    }
};

TEST(Profiles, DefaultThenProfileThenCommandLine) {
    ProfilesFile file(
        "; lab boards\n[default]\nflow = none\nhistory = 500\n\n"
        "[board]\ndevice = /dev/ttyUSB3\nsettings = 115200\nseven-bit = yes\nlog = /tmp/board.log\n");
    ASSERT_TRUE(file.Read()) << file.problem;
    EXPECT_TRUE(HasProfile(file.profiles, "board"));
    ConsoleOptions o;
    DefaultOptions(&o);
    char problem[ProblemCapacity];
    ASSERT_TRUE(ApplyProfile(file.profiles, "default", &o, problem, sizeof problem));
    ASSERT_TRUE(ApplyProfile(file.profiles, "board", &o, problem, sizeof problem));
    const char* argv[] = {"brisvane", "board", "19200", "--history", "7"};
    CommandLine line;
    ASSERT_TRUE(ReadCommandLine(5, argv, &line, problem, sizeof problem));
    ASSERT_TRUE(ApplyCommandLine(line, true, &o, problem, sizeof problem)) << problem;
    EXPECT_STREQ(o.device, "/dev/ttyUSB3");       // from the profile
    EXPECT_STREQ(o.settingsText, "19200,n,8,1");  // the command line wins
    EXPECT_FALSE(o.hardwareFlow);                 // from [default]
    EXPECT_TRUE(o.sevenBit);
    EXPECT_EQ(o.historyRows, 7u);
    EXPECT_STREQ(o.logPath, "/tmp/board.log");
    EXPECT_FALSE(LooksLikeDevice("board"));
    EXPECT_TRUE(LooksLikeDevice("rfc2217://host:2217"));
}

TEST(Profiles, AFaultNamesTheFileAndLine) {
    for (const auto& bad : std::vector<std::pair<std::string, std::string>>{
             {"[a]\nflow = rtscts\n\nflow = sideways\n", ":4: flow control is rtscts or none"},
             {"[a]\nbaud = 9600\n", ":2: unknown option"},
             {"[a]\nwait = perhaps\n", ":2: expected yes or no"},
             {"[a]\njust words\n", ":2: not a 'key = value' line"},
             {"flow = none\n", ":1: 'flow' comes before any [section]"}}) {
        ProfilesFile file(bad.first);
        EXPECT_FALSE(file.Read());
        EXPECT_EQ(file.problem.rfind(file.path + bad.second, 0), 0u) << file.problem;
    }
    Profiles none;
    char problem[ProblemCapacity];
    EXPECT_TRUE(ReadProfiles("/nonexistent/brisvane/config", false, &none, problem, sizeof problem));
    EXPECT_FALSE(ReadProfiles("/nonexistent/brisvane/config", true, &none, problem, sizeof problem));
}

std::string Sent(int code, bool isKeyCode) {
    TranslatedKey key = TranslateKey(KeyCodes{}, code, isKeyCode);
    if (key.action == KeyAction::Byte) return std::string(1, char(key.byte));
    if (key.action == KeyAction::Ignore) return "ignored";
    if (key.action == KeyAction::Foreign) {
        char name[32];
        ForeignKeyName(code, isKeyCode, name, sizeof name);
        return std::string("foreign ") + name;
    }
    const uint8_t* bytes;
    unsigned n = KeySequence(key.key, key.shifted, &bytes);
    return std::string(reinterpret_cast<const char*>(bytes), n);
}

TEST(ConsoleKeys, SameBytesAsTheWindowsProgram) {
    EXPECT_EQ(Sent(KEY_UP, true), "\x1b?t");
    EXPECT_EQ(Sent(KEY_SR, true), "\x1bP");  // Shift+Up
    EXPECT_EQ(Sent(KEY_SDC, true), "\x1b?u");
    EXPECT_EQ(Sent(KEY_DC, true), "\x7f");
    EXPECT_EQ(Sent(KEY_B2, true), "\x1b?u");  // keypad 5
    EXPECT_EQ(Sent(KEY_BACKSPACE, true), "\b");
    EXPECT_EQ(Sent(127, false), "\b");
    EXPECT_EQ(Sent(8, false), "\b");
    EXPECT_EQ(Sent(KEY_ENTER, true), "\r");
    EXPECT_EQ(Sent(13, false), "\r");
    EXPECT_EQ(Sent(3, false), "\x03");
    EXPECT_EQ(Sent(0xE9, false), "\xe9");
    EXPECT_EQ(Sent(0x2588, false), "foreign U+2588");
    EXPECT_EQ(Sent(KEY_F(1), true), "\x1bP");  // PF1-PF3
    EXPECT_EQ(Sent(KEY_F(3), true), "\x1bR");
    EXPECT_EQ(Sent(KEY_F(10), true), "foreign F10");
    EXPECT_EQ(Sent(KEY_BTAB, true), "foreign Shift-Tab");
}

void Feed(Timeline& timeline, unsigned line, const std::string& text, int64_t second) {
    TimelineFeed(timeline, line, reinterpret_cast<const uint8_t*>(text.data()), unsigned(text.size()),
                 second * 1000000, {time_t(second), 0}, uint64_t(second) * 10);
}

std::string RowText(const Timeline& timeline, uint64_t number) {
    const TimelineRow* row = timeline.Row(number);
    return row != nullptr ? std::string(row->text, row->length) : "(gone)";
}

std::string ViewRow(const TimelineView& view, int row) {
    std::string text;
    for (int c = 0; c < ScreenColumns; ++c) text += char(view.rows[row * ScreenColumns + c]);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// Two screens where the terminal has room for them, else one with why.
TEST(Layout, TwoPanesOnlyWithRoomAndSeveralLinesElseOneAndWhy) {
    auto places = [](const PaneLayout& l) {
        std::vector<std::vector<int>> out;
        for (unsigned i = 0; i < l.count; ++i)
            out.push_back({l.panes[i].row, l.panes[i].column, l.panes[i].width});
        return out;
    };
    using Places = std::vector<std::vector<int>>;
    PaneLayout l = DecideLayout(LayoutChoice::Side, 161, 25, 2);  // the least room: no column to spare
    EXPECT_EQ(places(l), (Places{{0, 0, 80}, {0, 81, 80}}));
    EXPECT_STREQ(l.why, "");
    EXPECT_EQ(places(DecideLayout(LayoutChoice::Side, 170, 30, 9)), (Places{{0, 0, 80}, {0, 81, 89}}));
    EXPECT_EQ(places(DecideLayout(LayoutChoice::Stack, 80, 51, 3)), (Places{{0, 0, 80}, {26, 0, 80}}));
    EXPECT_EQ(places(DecideLayout(LayoutChoice::Stack, 120, 60, 2)), (Places{{0, 0, 120}, {26, 0, 120}}));
    // One at a time: as wide as the terminal, as without the option.
    struct Case {
        LayoutChoice choice;
        int columns, rows;
        unsigned lines;
        const char* why;
    };
    for (const Case& c : {
             Case{LayoutChoice::One, 200, 60, 3, ""},
             Case{LayoutChoice::Side, 160, 60, 2,
                  "--layout side needs 161 x 25 (now 160 x 60): one line at a time"},
             Case{LayoutChoice::Side, 200, 24, 2,
                  "--layout side needs 161 x 25 (now 200 x 24): one line at a time"},
             Case{LayoutChoice::Stack, 200, 50, 2,
                  "--layout stack needs 80 x 51 (now 200 x 50): one line at a time"},
             Case{LayoutChoice::Stack, 79, 60, 2,
                  "--layout stack needs 80 x 51 (now 79 x 60): one line at a time"},
             Case{LayoutChoice::Side, 200, 60, 1, "--layout side: one line only, shown alone"},
         }) {
        l = DecideLayout(c.choice, c.columns, c.rows, c.lines);
        EXPECT_EQ(places(l), (Places{{0, 0, c.columns}})) << c.why;
        EXPECT_STREQ(l.why, c.why);
    }
    ConsoleOptions o;
    ASSERT_TRUE(ParseArgs({"/dev/x", "--layout", "stack"}, &o));
    EXPECT_EQ(o.layout, LayoutChoice::Stack);
    std::string problem;
    EXPECT_FALSE(ParseArgs({"/dev/x", "--layout", "beside"}, &o, &problem));
    EXPECT_NE(problem.find("one, side or stack"), std::string::npos) << problem;
}

TEST(Timeline, RowsEndAtTheirLfInThatOrderAndKeepTheirFirstBytesTime) {
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(8));
    Feed(timeline, 0, "boo", 100);  // split over two feeds, ended after line 1's row
    Feed(timeline, 1, "\x01gps\tfix\r\n", 150);
    Feed(timeline, 0, "t \xc3\xa9t\x7f\r\n\r\n", 200);
    Feed(timeline, 9, "no such line\n", 210);
    Feed(timeline, 2, "partial", 220);
    EXPECT_EQ(timeline.End(), 3u);
    TimelineFlushLine(timeline, 2);
    TimelineFlushLine(timeline, 2);  // nothing left to end
    ASSERT_EQ(timeline.End(), 4u);
    EXPECT_EQ(timeline.Row(0)->line, 1);
    EXPECT_EQ(RowText(timeline, 0), "gps fix");
    const TimelineRow* booted = timeline.Row(1);
    EXPECT_EQ(RowText(timeline, 1), "boot \xc3\xa9t");
    EXPECT_EQ(booted->micros, 100 * 1000000);
    EXPECT_EQ(booted->wall.tv_sec, 100);
    EXPECT_EQ(booted->historyEnd, 1000u);
    EXPECT_EQ(RowText(timeline, 2), "");  // an empty line is a row, timed by its LF
    EXPECT_EQ(timeline.Row(2)->micros, 200 * 1000000);
    EXPECT_EQ(RowText(timeline, 3), "partial");
}

// A replay's timeline: each line's bytes through its own maps and ANSI
// rule, in the recorded order, stamped with the recording's times, up to a
// time; going back starts over.
TEST(Timeline, ARecordingsRowsUpToATimeWithItsOwnStampsAndEachLinesRules) {
    RecordingHeader header = {};
    header.version = 1;
    std::snprintf(header.started, sizeof header.started, "2026-12-08T10:00:00.250000Z");
    header.lines = 2;
    header.ansiHidden = true;
    std::snprintf(header.line[0].label, sizeof header.line[0].label, "dut");
    std::snprintf(header.line[1].label, sizeof header.line[1].label, "bmc");
    header.line[1].drawn = true;  // its own: CR also feeds a line, sequences shown
    header.line[1].maps = MapInCrCrlf;
    char text[2048];
    std::string bytes(text, WriteRecordingHeader(header, text, sizeof text));
    const struct {
        uint8_t line;
        uint64_t time;
        std::string payload;
    } events[] = {{0, 1000000, "boot \x1b[1mok\x1b[0m\n"},
                  {1, 1500000, "a\rb\x1b[1m"},
                  {0, 2000000, "part"},
                  {1, 2500000, "\n"},
                  {0, 3000000, "ial\n"}};
    uint64_t last = 0;
    for (const auto& e : events) {
        uint8_t frame[RecordingEventHeaderMax];
        bytes.append(
            reinterpret_cast<const char*>(frame),
            EncodeEvent(frame, RecordKind::Received, e.line, e.time - last, unsigned(e.payload.size())));
        bytes += e.payload;
        last = e.time;
    }
    RecordingHeader read;
    const char* problem = "";
    const uint8_t* data = reinterpret_cast<const uint8_t*>(bytes.data());
    unsigned long long start = ReadRecordingHeader(data, bytes.size(), &read, &problem);
    ASSERT_GT(start, 0u) << problem;
    std::unique_ptr<RecordedTimeline> recorded(new RecordedTimeline());
    StartRecordedTimeline(*recorded, data, bytes.size(), start, read);
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(16));
    auto rows = [&]() {
        std::string all;
        for (uint64_t n = timeline.Oldest(); n < timeline.End(); ++n)
            all += std::to_string(timeline.Row(n)->line) + ":" + RowText(timeline, n) + "|";
        return all;
    };
    RecordedTimelineTo(*recorded, timeline, 1600000);
    EXPECT_EQ(rows(), "0:boot ok|1:a|");
    struct tm utc = {};
    utc.tm_year = 126, utc.tm_mon = 11, utc.tm_mday = 8, utc.tm_hour = 10;
    EXPECT_EQ(timeline.Row(0)->wall.tv_sec, timegm(&utc) + 1);
    EXPECT_EQ(timeline.Row(0)->wall.tv_nsec, 250000000);
    RecordedTimelineTo(*recorded, timeline, 2999999);  // a row waits for its LF, as it did live
    EXPECT_EQ(rows(), "0:boot ok|1:a|1:b[1m|");
    EXPECT_EQ(timeline.Row(2)->micros, 1500000);  // its first byte's time
    RecordedTimelineTo(*recorded, timeline, 3000000);
    EXPECT_EQ(rows(), "0:boot ok|1:a|1:b[1m|0:partial|");
    // The dut's first row lies two of its rows back in a history of 50.
    EXPECT_EQ(RecordedRowHistory(*recorded, *timeline.Row(0), 50), 48u);
    RecordedTimelineTo(*recorded, timeline, 1200000);
    EXPECT_EQ(rows(), "0:boot ok|");
    RecordedTimelineTo(*recorded, timeline, 9000000);
    EXPECT_EQ(rows(), "0:boot ok|1:a|1:b[1m|0:partial|");
    struct timespec wall;
    EXPECT_FALSE(RecordingStarted("yesterday", &wall));
}

TEST(Timeline, TheRingForgetsTheOldestAndLongLinesAreCutAtACharactersEdge) {
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(3));
    for (int i = 0; i < 5; ++i) Feed(timeline, 0, "r" + std::to_string(i) + "\n", i);
    EXPECT_EQ(timeline.Oldest(), 2u);
    EXPECT_EQ(timeline.End(), 5u);
    EXPECT_EQ(timeline.Row(1), nullptr);
    EXPECT_EQ(RowText(timeline, 2), "r2");
    EXPECT_EQ(RowText(timeline, 4), "r4");
    Feed(timeline, 0, std::string(TimelineTextMax - 1, 'x') + "\xc3\xa9" + "more\n", 9);
    EXPECT_EQ(RowText(timeline, 5), std::string(TimelineTextMax - 1, 'x'));
    Feed(timeline, 0, std::string(TimelineTextMax + 40, 'y'), 10);
    Feed(timeline, 0, "z\n", 11);
    EXPECT_EQ(RowText(timeline, 6), std::string(TimelineTextMax, 'y'));
    Timeline none;
    ASSERT_TRUE(none.Allocate(0));
    Feed(none, 0, "lost\n", 1);
    EXPECT_EQ(none.End(), 0u);
}

TEST(Timeline, RowsAreFormattedAndSearchedBothWays) {
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(4));
    const char* labels[] = {"gps", "modem"};
    TimelineStyle style;
    style.labels = labels;
    style.labelWidth = TimelineLabelWidth(labels, 2);
    ASSERT_TRUE(ParseStampFormat("24h-delta", &style.stamp));
    style.start = {100, 0};
    Feed(timeline, 0, "$GPGGA one\n", 101);
    Feed(timeline, 1, "AT OK\n", 103);
    Feed(timeline, 0, "$GPGGA two\n", 104);
    char text[256];
    FormatTimelineNumber(timeline, 0, style, text, sizeof text);
    EXPECT_STREQ(text, "[+00:00:01.000] gps   $GPGGA one");
    FormatTimelineNumber(timeline, 1, style, text, sizeof text);
    EXPECT_STREQ(text, "[+00:00:02.000] modem AT OK");
    unsigned textAt = 0;
    EXPECT_EQ(FormatTimelineRow(*timeline.Row(2), "", 0, style.stamp, style.start, style.start, text, 20,
                                nullptr, &textAt),
              19u);  // no label, cut to the room given
    EXPECT_STREQ(text, "[+00:00:04.000] $GP");
    EXPECT_EQ(textAt, 16u);

    uint64_t found = 0;
    unsigned column = 0;
    ASSERT_TRUE(FindInTimeline(timeline, "GGA", 99, true, &found, &column));  // from past the newest
    EXPECT_EQ(found, 2u);
    EXPECT_EQ(column, 3u);
    ASSERT_TRUE(FindInTimeline(timeline, "GGA", 1, true, &found));
    EXPECT_EQ(found, 0u);
    ASSERT_TRUE(FindInTimeline(timeline, "GGA", 1, false, &found));
    EXPECT_EQ(found, 2u);
    EXPECT_FALSE(FindInTimeline(timeline, "OK", 0, true, &found));
    EXPECT_FALSE(FindInTimeline(timeline, "", 0, false, &found));
}

TEST(Timeline, TheViewOpensOnTheNewestMovesSearchesAndSelects) {
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(100));
    TimelineView view;
    TimelineStyle style;
    ASSERT_TRUE(ParseStampFormat("24h-start", &style.stamp));
    uint64_t selected = 0;
    OpenTimelineView(view, timeline);
    EXPECT_FALSE(SelectedTimelineRow(view, timeline, &selected));
    for (int i = 0; i < 30; ++i) Feed(timeline, unsigned(i % 2), "row " + std::to_string(i) + "\n", i);
    OpenTimelineView(view, timeline);
    TimelineViewRows(view, timeline, style);
    EXPECT_EQ(ViewRow(view, 0), "[+00:00:06.000] row 6");
    EXPECT_EQ(ViewRow(view, 23), "[+00:00:29.000] row 29");
    ASSERT_TRUE(SelectedTimelineRow(view, timeline, &selected));
    EXPECT_EQ(selected, 29u);
    MoveTimelineView(view, timeline, ViewMove::LineDown);  // already at the newest
    EXPECT_EQ(view.top, 6u);
    MoveTimelineView(view, timeline, ViewMove::PageUp);
    EXPECT_EQ(view.top, 0u);

    std::snprintf(view.search, sizeof view.search, "row 1");
    ASSERT_TRUE(FindInTimelineView(view, timeline, true));  // from the bottom row shown, 23
    EXPECT_EQ(view.matchRow, 19u);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(FindInTimelineView(view, timeline, true));  // 18..10, 1
    EXPECT_EQ(view.matchRow, 1u);
    EXPECT_FALSE(FindInTimelineView(view, timeline, true));
    ASSERT_TRUE(FindInTimelineView(view, timeline, false));
    EXPECT_EQ(view.matchRow, 10u);
    ASSERT_TRUE(SelectedTimelineRow(view, timeline, &selected));
    EXPECT_EQ(selected, 10u);  // the match, not the bottom row
    TimelineViewRows(view, timeline, style);
    EXPECT_EQ(view.matchRowShown, 10);
    EXPECT_EQ(view.matchColumn, 16);
    ASSERT_TRUE(FindInTimelineView(view, timeline, true));
    EXPECT_EQ(view.matchRow, 1u);
    MoveTimelineView(view, timeline, ViewMove::Newest);  // the match off the page: the bottom row
    ASSERT_TRUE(SelectedTimelineRow(view, timeline, &selected));
    EXPECT_EQ(selected, 29u);

    for (int i = 30; i < 120; ++i) Feed(timeline, 0, "late " + std::to_string(i) + "\n", i);
    EXPECT_EQ(NewTimelineRows(view, timeline), 90u);
    TimelineViewRows(view, timeline, style);  // its rows forgotten: the oldest kept
    EXPECT_EQ(view.top, 20u);
    EXPECT_EQ(ViewRow(view, 0), "[+00:00:20.000] row 20");
    MoveTimelineView(view, timeline, ViewMove::Newest);
    EXPECT_EQ(view.top, 96u);
}

}  // namespace
