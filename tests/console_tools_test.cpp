// The engineer's tools as pure rules: line-end maps both ways (pairs split
// across blocks included), the hex view's rows and the hex input, and the
// line's counters.
#include <gtest/gtest.h>

#include <string>

#include "console/rules/counters.h"
#include "console/rules/hex_view.h"
#include "console/rules/line_maps.h"

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
