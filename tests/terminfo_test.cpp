// The host's terminal description against what the terminal does: each
// capability, as the host's own terminfo tools produce it, is fed to the
// interpreter or compared with the key map.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/output_queue.h"
#include "shell/key_map.h"
#include "tests/support/feed.h"

namespace {

std::string terminfoDir;

// What `tput CAP ARGS` prints for the brisvane entry; "<absent>" when tput fails.
std::string Cap(const std::string& capAndArgs) {
    std::string command = "tput -T brisvane " + capAndArgs + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "<absent>";
    std::string out;
    char chunk[256];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    return pclose(pipe) == 0 ? out : "<absent>";
}

class Terminfo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/brisvane-terminfo-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        terminfoDir = pattern;
        std::string command = "tic -x -o " + terminfoDir + " " BRISVANE_SOURCE_DIR "/host/brisvane.terminfo";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        setenv("TERMINFO", terminfoDir.c_str(), 1);
    }
    static void TearDownTestSuite() { std::system(("rm -rf " + terminfoDir).c_str()); }
    void SetUp() override { ResetAll(); }
    void ExpectCursor(int row, int column) {
        EXPECT_EQ(terminal.row, row);
        EXPECT_EQ(terminal.column, column);
    }
};

TEST_F(Terminfo, SizeAndNoAutomaticMargins) {
    EXPECT_EQ(Cap("cols"), "80\n");
    EXPECT_EQ(Cap("lines"), "24\n");
    EXPECT_EQ(Cap("am"), "<absent>");  // a false boolean makes tput fail
}

TEST_F(Terminfo, CursorAddressingReachesEveryCornerAndTheMiddle) {
    const int places[][2] = {{0, 0}, {23, 79}, {0, 79}, {23, 0}, {12, 40}, {1, 1}, {22, 78}};
    for (const auto& place : places) {
        Feed(Cap("cup " + std::to_string(place[0]) + " " + std::to_string(place[1])));
        ExpectCursor(place[0], place[1]);
    }
    Feed(Cap("home"));
    ExpectCursor(0, 0);
}

TEST_F(Terminfo, SingleStepMovesStopAtTheEdgesWithoutScrolling) {
    Feed(Cap("cup 5 5") + Cap("cuu1") + Cap("cub1"));
    ExpectCursor(4, 4);
    Feed(Cap("cud1") + Cap("cuf1") + Cap("cuf1"));
    ExpectCursor(5, 6);
    Feed("top" + Cap("cup 23 0"));
    Feed(Cap("cud1"));  // the bottom row: no scroll
    ExpectCursor(23, 0);
    EXPECT_EQ(RowText(5), "      top");
    Feed(Cap("cup 3 9") + Cap("cr"));
    ExpectCursor(3, 0);
    Feed(Cap("ht") + Cap("ht"));
    ExpectCursor(3, 16);
}

TEST_F(Terminfo, IndexScrollsUpAtTheBottomAndReverseIndexDownAtTheTop) {
    Feed("first" + Cap("cup 23 0") + "last" + Cap("ind"));
    EXPECT_EQ(RowText(22), "last");
    EXPECT_EQ(RowText(0), "");
    Feed(Cap("home") + Cap("ri"));
    EXPECT_EQ(RowText(23), "last");
    EXPECT_EQ(RowText(0), "");
    ExpectCursor(0, 0);
}

TEST_F(Terminfo, ErasingCapabilities) {
    for (int row = 0; row < 24; ++row) Feed(Cap("cup " + std::to_string(row) + " 0") + "0123456789");
    Feed(Cap("cup 2 4") + Cap("el"));
    EXPECT_EQ(RowText(2), "0123");
    EXPECT_EQ(RowText(3), "0123456789");
    Feed(Cap("cup 20 3") + Cap("ed"));
    EXPECT_EQ(RowText(19), "0123456789");
    EXPECT_EQ(RowText(20), "012");
    EXPECT_EQ(RowText(21), "");
    Feed(Cap("clear"));
    for (int row = 0; row < 24; ++row) EXPECT_EQ(RowText(row), "") << row;
    ExpectCursor(0, 0);
}

TEST_F(Terminfo, LineDrawingSetMapsOnlyToSubstitutedCharacters) {
    std::string pairs = Cap("acsc");
    ASSERT_EQ(pairs.size() % 2, 0u);
    ASSERT_FALSE(pairs.empty());
    for (size_t i = 1; i < pairs.size(); i += 2) {
        ResetAll();
        Feed(Cap("smacs") + pairs[i] + Cap("rmacs") + pairs[i]);
        EXPECT_GT(CellAt(0, 0), 127u) << "not substituted: " << pairs[i];
        EXPECT_EQ(CellAt(0, 1), Cell(pairs[i])) << "graphics mode left on";
    }
}

TEST_F(Terminfo, KeyCapabilitiesAreWhatTheKeysSend) {
    const struct {
        const char* cap;
        uint32_t virtualKey;
    } keys[] = {
        {"kcuu1", 38}, {"kcud1", 40}, {"kcuf1", 39}, {"kcub1", 37}, {"kdch1", 46},
        {"khome", 36}, {"kend", 35},  {"kich1", 45}, {"kpp", 33},   {"knp", 34},
        {"ka1", 103},  {"ka3", 105},  {"kb2", 101},  {"kc1", 97},   {"kc3", 99},
        {"kf1", 111},  {"kf2", 106},  {"kf3", 109},  // PF1-PF3: keypad /, *, -
    };
    for (const auto& key : keys) {
        const KeyMapEntry* entry = FindMappedKey(key.virtualKey);
        ASSERT_NE(entry, nullptr) << key.cap;
        const uint8_t* bytes;
        unsigned length = KeySequence(entry->key, false, &bytes);
        std::string sent(reinterpret_cast<const char*>(bytes), length);
        EXPECT_EQ(Cap(key.cap), sent) << key.cap;
    }
    EXPECT_EQ(Cap("kbs"), "\b");  // Backspace goes out as a character
}

}  // namespace
