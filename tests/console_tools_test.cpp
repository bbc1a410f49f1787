// The engineer's tools as pure rules: line-end maps both ways (pairs split
// across blocks included), the hex view's rows and the hex input, the
// line's counters, the log's stamps, the boot marks and the timeline's file.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "console/rules/counters.h"
#include "console/rules/hex_view.h"
#include "console/line/line.h"
#include "console/rules/line_maps.h"
#include "console/features/marks.h"
#include "console/features/timeline_file.h"
#include "console/rules/timestamp.h"

namespace {

std::string Received(uint8_t maps, const std::string& first, const std::string& second) {
    ReceivedMap map;
    uint8_t out[64];
    std::string result;
    for (const std::string* block : {&first, &second}) {
        unsigned n =
            map.Apply(maps, reinterpret_cast<const uint8_t*>(block->data()), unsigned(block->size()), out);
        result.append(reinterpret_cast<const char*>(out), n);
    }
    return result;
}

TEST(LineMaps, ListsAreReadAndWrittenBackAndBadNamesChangeNothing) {
    uint8_t maps = 0;
    const char* fault = nullptr;
    ASSERT_TRUE(ParseLineMaps("lf-crlf, del-bs", &maps, &fault));
    EXPECT_EQ(maps, MapInLfCrlf | MapOutDelBs);
    ASSERT_TRUE(ParseLineMaps("cr-crlf", &maps, &fault));
    EXPECT_EQ(maps, MapInCrCrlf | MapOutCrCrlf);  // both sides
    char text[96];
    for (const char* list : {"out-cr-crlf,ignore-cr", "cr-crlf,lf-crlf,bs-del", "in-cr-crlf", "none"}) {
        ASSERT_TRUE(ParseLineMaps(list, &maps, &fault)) << list;
        FormatLineMaps(maps, text, sizeof text);
        uint8_t again = 0xFF;
        ASSERT_TRUE(ParseLineMaps(text, &again, &fault)) << text;
        EXPECT_EQ(again, maps) << list << " -> " << text;
    }
    FormatLineMaps(MapOutCrCrlf | MapInIgnoreCr, text, sizeof text);
    EXPECT_STREQ(text, "out-cr-crlf,ignore-cr");
    maps = MapOutDelBs;
    EXPECT_FALSE(ParseLineMaps("lf-crlf,crlf", &maps, &fault));
    EXPECT_EQ(maps, MapOutDelBs);
    EXPECT_FALSE(ParseLineMaps("out-lf-crlf", &maps, &fault));  // nothing to send it on
    ASSERT_TRUE(ParseLineMaps("", &maps, &fault));
    EXPECT_EQ(maps, 0);
}

TEST(LineMaps, EachReceivedMapEvenWithAPairSplitAcrossBlocks) {
    EXPECT_EQ(Received(0, "a\nb\r", "\nc\r"), "a\nb\r\nc\r");
    EXPECT_EQ(Received(MapInLfCrlf, "a\nb\r", "\nc\n\n"), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(Received(MapInCrCrlf, "a\rb\r", "\nc\n"), "a\r\nb\r\nc\n");
    EXPECT_EQ(Received(MapInIgnoreCr, "a\r\nb\r", "\r"), "a\nb");
    EXPECT_EQ(Received(MapInIgnoreCr | MapInLfCrlf, "a\r", "\n"), "a\r\n");
    EXPECT_EQ(Received(MapInLfCrlf, "\x8d", "\x8a\x8a"), "\x8d\x8a\r\x8a");  // bit 7 is ignored
}

TEST(LineMaps, SentMapsChangeEnterAndTheEraseKeys) {
    uint8_t out[2];
    ASSERT_EQ(MapSent(MapOutCrCrlf, '\r', out), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 2), "\r\n");
    EXPECT_EQ(MapSent(MapInCrCrlf | MapInLfCrlf, '\r', out), 1u);  // received maps leave it
    MapSent(MapOutDelBs | MapOutBsDel, 0x7F, out);
    EXPECT_EQ(out[0], 0x08);
    MapSent(MapOutDelBs | MapOutBsDel, 0x08, out);
    EXPECT_EQ(out[0], 0x7F);  // both: swapped, not chained
    MapSent(MapOutDelBs, 0x08, out);
    EXPECT_EQ(out[0], 0x08);
}

TEST(HexView, RowsKeepTheirColumnsAsTheyFill) {
    HexDump dump;
    char text[HexRowCapacity];
    std::string run = "Hello\r\n\x1bZ\xff";
    for (char c : run) dump.Add(uint8_t(c));
    FormatHexRow(dump, text, sizeof text);
    EXPECT_STREQ(text, "00000000  48 65 6c 6c 6f 0d 0a 1b  5a ff                    Hello...Z.");
    for (int i = 0; i < 6; ++i) EXPECT_EQ(dump.Add(uint8_t(0x20 + i)), i == 5);
    unsigned length = FormatHexRow(dump, text, sizeof text);
    EXPECT_EQ(length, 76u);
    EXPECT_STREQ(text + 60, "Hello...Z. !\"#$%");
    dump.NextRow();
    dump.Add('~');
    FormatHexRow(dump, text, sizeof text);
    EXPECT_EQ(std::string(text, 14), "00000010  7e  ");
    EXPECT_EQ(std::string(text).substr(60), "~");
}

TEST(HexView, APauseLongerThanTheGapStartsAStampedRow) {
    setenv("TZ", "UTC0", 1);
    tzset();
    HexDump dump;
    dump.gapMilliseconds = 100;
    char text[HexRowCapacity];
    unsigned n = HexGapStamp(dump, {3600, 5000000}, text, sizeof text);
    EXPECT_EQ(std::string(text, n), "-- 01:00:00.005 --");                   // the first bytes
    EXPECT_EQ(HexGapStamp(dump, {3600, 105000000}, text, sizeof text), 0u);  // exactly the gap: same row
    n = HexGapStamp(dump, {3601, 355000000}, text, sizeof text);
    EXPECT_EQ(std::string(text, n), "-- 01:00:01.355 (+1.250 s) --");
    unsetenv("TZ");
    tzset();
}

TEST(HexView, InputTakesPairsInSeveralSpellingsAndRefusesTheRest) {
    uint8_t bytes[8];
    const char* fault = nullptr;
    ASSERT_EQ(ParseHexBytes("1b 5B41", bytes, sizeof bytes, &fault), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "\x1b[A");
    ASSERT_EQ(ParseHexBytes("0x00,0xFF", bytes, sizeof bytes, &fault), 2);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(ParseHexBytes("", bytes, sizeof bytes, &fault), 0);
    for (const char* bad : {"1", "1b 5", "zz", "1 b", "0x"}) {
        EXPECT_EQ(ParseHexBytes(bad, bytes, sizeof bytes, &fault), -1) << bad;
    }
    EXPECT_EQ(ParseHexBytes("00 01 02", bytes, 2, &fault), -1);  // no room: nothing half sent
}

TEST(Counters, CountOpenTimeAcrossReconnects) {
    Counters counters;
    counters.received = 1234567;
    counters.sent = 42;
    NoteLineOpen(counters, true, 1000);
    NoteLineOpen(counters, true, 2000);  // still the same opening
    NoteLineOpen(counters, false, 61000);
    NoteLineOpen(counters, false, 90000);
    NoteLineOpen(counters, true, 100000);
    char text[160];
    FormatCounters(counters, 100000 + 3600 * 1000 + 2000, text, sizeof text);
    EXPECT_STREQ(text, "received 1,234,567  sent 42  dropped 0  reconnects 1  connected 1:01:02");
}

}  // namespace

TEST(Counters, TheDriversErrorsOrNotReportedNeverAZeroItDidNotCount) {
    char text[128] = "sent 0";
    AddLineErrors(nullptr, text, sizeof text);
    EXPECT_STREQ(text, "sent 0  line errors: not reported");
    LineErrorCounts errors = {1, 2, 3, 4};
    text[6] = '\0';
    AddLineErrors(&errors, text, sizeof text);
    EXPECT_STREQ(text, "sent 0  framing 1  parity 2  overrun 3  breaks 4");
}

TEST(Timestamps, EachFormatAgainstAFixedClock) {
    setenv("TZ", "CET-1", 1);  // an hour east of UTC, no summer time
    tzset();
    const struct timespec start = {1765112400, 0};           // 2025-12-07 13:00:00 UTC
    const struct timespec previous = {1765112532, 5000000};  // 2:12.005 later
    const struct timespec at = {1765112592, 345678901};      // 3:12.345678901 after the start
    const struct {
        const char* format;
        const char* stamp;
    } Cases[] = {
        {"24h", "[2025-12-07 14:03:12.345] "}, {"24h-start", "[+00:03:12.345] "},
        {"24h-delta", "[+00:01:00.340] "},     {"iso8601", "[2025-12-07T14:03:12.345+01:00] "},
        {"epoch", "[1765112592.345] "},        {"epoch-usec", "[1765112592.345678] "},
        {"%H:%M:%S.%f", "14:03:12.345678 "},   {"%%f %f", "%f 345678 "},
    };
    for (const auto& c : Cases) {
        StampStyle style = {};
        ASSERT_TRUE(ParseStampFormat(c.format, &style)) << c.format;
        char text[StampCapacity];
        unsigned n = FormatStamp(style, at, start, previous, text, sizeof text);
        EXPECT_EQ(std::string(text, n), c.stamp) << c.format;
    }
    StampStyle style = {};
    char text[StampCapacity];
    ASSERT_TRUE(ParseStampFormat("24h-delta", &style));
    FormatStamp(style, start, start, at, text, sizeof text);  // a clock set back: no negative time
    EXPECT_STREQ(text, "[+00:00:00.000] ");
    EXPECT_FALSE(ParseStampFormat("12h", &style));
    EXPECT_FALSE(ParseStampFormat(std::string(StampPatternCapacity, '%').c_str(), &style));
    EXPECT_EQ(style.format, StampFormat::SincePrevious);  // untouched by a refusal
    unsetenv("TZ");
    tzset();
}

TEST(Marks, FoundOnceEvenAcrossBlocksAndTimedFromTheOpen) {
    Marks marks;
    ASSERT_TRUE(AddMark(marks, "Starting kernel"));
    ASSERT_TRUE(AddMark(marks, "login:"));
    ASSERT_TRUE(AddMark(marks, "aab"));
    EXPECT_FALSE(AddMark(marks, ""));
    StartMarks(marks, {100, 0});
    auto feed = [&](const std::string& text, time_t second) {
        MatchMarks(marks, reinterpret_cast<const uint8_t*>(text.data()), unsigned(text.size()),
                   {second, 500000000});
    };
    feed("U-Boot\r\nStar", 101);
    feed("t", 102);
    EXPECT_FALSE(marks.marks[0].reached);
    feed("ing kernel", 103);
    EXPECT_TRUE(marks.marks[0].reached);
    EXPECT_DOUBLE_EQ(marks.marks[0].seconds, 3.5);
    feed("a", 104);  // "aab" split as a, a, b: the second a restarts the match
    feed("a", 104);
    feed("b login:", 105);
    EXPECT_TRUE(marks.marks[2].reached);
    EXPECT_DOUBLE_EQ(marks.marks[1].seconds, 5.5);
    EXPECT_DOUBLE_EQ(marks.marks[1].sincePrevious, 2.0);
    EXPECT_DOUBLE_EQ(marks.marks[2].sincePrevious, 0);  // the same block
    EXPECT_EQ(marks.pending, 0u);
    feed("login:", 106);  // the first time only
    EXPECT_DOUBLE_EQ(marks.marks[1].seconds, 5.5);
    ASSERT_TRUE(ReachMark(marks, "shell", {107, 0}));
    char text[64];
    FormatLastMark(marks, "", text, sizeof text);
    EXPECT_STREQ(text, "shell 7.000 s");
    FormatLastMark(marks, "dut", text, sizeof text);  // one line of several
    EXPECT_STREQ(text, "dut: shell 7.000 s");
    EXPECT_DOUBLE_EQ(marks.marks[3].sincePrevious, 1.5);
}

TEST(TimelineFile, AppendsEachRowOnceRefusesAFifoAndSaysAFailedWriteOnce) {
    char folder[32] = "/tmp/brisvane-timeline-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/rows.txt", fifo = std::string(folder) + "/fifo";
    { std::ofstream(path) << "kept\n"; }
    Timeline timeline;
    ASSERT_TRUE(timeline.Allocate(16));
    auto feed = [&](unsigned line, const char* text, time_t second) {
        TimelineFeed(timeline, line, reinterpret_cast<const uint8_t*>(text), unsigned(std::strlen(text)),
                     second * 1000000, {second, 0}, 0);
    };
    feed(0, "before the file\n", 100);
    const char* labels[] = {"a", "bb"};
    TimelineStyle style;
    style.labels = labels;
    style.labelWidth = 2;
    ASSERT_TRUE(ParseStampFormat("24h-start", &style.stamp));
    style.start = {100, 0};
    char problem[256] = "";
    TimelineFile file;
    ASSERT_TRUE(file.Open(path.c_str(), timeline, LogFileMode(), LogRotation(), problem, sizeof problem));
    feed(1, "one\r\n", 101);
    feed(0, "two \xc3\xa9\n", 102);
    file.Take(timeline, style);
    file.Take(timeline, style);  // nothing new
    EXPECT_FALSE(file.WriteOut(problem, sizeof problem));
    auto contents = [&] {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    EXPECT_EQ(contents(), "kept\n[+00:00:01.000] bb one\n[+00:00:02.000] a  two \xc3\xa9\n");
    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // A file that may grow no more: said once, and the loop goes on.
    struct rlimit limit, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    small = limit;
    small.rlim_cur = rlim_t(status.st_size);
    auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    feed(0, "three\n", 103);
    file.Take(timeline, style);
    bool first = file.WriteOut(problem, sizeof problem);
    feed(0, "four\n", 104);
    file.Take(timeline, style);
    bool second = file.WriteOut(problem + 128, sizeof problem - 128);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, ignored);
    EXPECT_TRUE(first);
    EXPECT_NE(std::string(problem).find("rows.txt: cannot write"), std::string::npos) << problem;
    EXPECT_FALSE(second);
    feed(0, "five\n", 105);
    file.Take(timeline, style);
    EXPECT_FALSE(file.WriteOut(problem, sizeof problem));
    file.Close();
    EXPECT_NE(contents().find("a  five\n"), std::string::npos);

    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TimelineFile refused;
    EXPECT_FALSE(refused.Open(fifo.c_str(), timeline, LogFileMode(), LogRotation(), problem, sizeof problem));
    EXPECT_NE(std::string(problem).find("--timeline"), std::string::npos) << problem;
    EXPECT_FALSE(refused.Open(folder, timeline, LogFileMode(), LogRotation(), problem, sizeof problem));
    unlink(fifo.c_str());
    unlink(path.c_str());
    rmdir(folder);
}
