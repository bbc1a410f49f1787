// The ANSI filter at its edges: what reaches the interpreter for a stream,
// fed whole and split at every byte; and the bit-7 echo watch.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "console/rules/ansi_filter.h"
#include "console/rules/bit7_watch.h"
#include "core/interpreter.h"
#include "core/screen.h"

namespace {

std::string Filter(AnsiFilter& f, const std::string& in) {
    std::string out(in.size() + AnsiFilterSlack, '\0');
    unsigned n = FilterAnsi(f, reinterpret_cast<const uint8_t*>(in.data()), unsigned(in.size()),
                            reinterpret_cast<uint8_t*>(&out[0]));
    out.resize(n);
    return out;
}

// What the interpreter gets, the same whether the stream comes whole or a
// byte per read; and how many sequences were hidden.
std::string Passed(const std::string& in, uint64_t* hidden = nullptr, bool eightBit = true) {
    AnsiFilter whole;
    whole.eightBit = eightBit;
    std::string once = Filter(whole, in);
    AnsiFilter split;
    split.eightBit = eightBit;
    std::string pieces;
    for (char byte : in) pieces += Filter(split, std::string(1, byte));
    EXPECT_EQ(once, pieces) << "split across reads";
    EXPECT_EQ(whole.hidden, split.hidden);
    if (hidden != nullptr) *hidden = whole.hidden;
    return once;
}

TEST(AnsiFilter, DropsColourAndEraseButKeepsTheTerminalsOwnSequences) {
    uint64_t hidden = 0;
    EXPECT_EQ(Passed("\033[01;31m\033[Kroot\033[m\033[K:x", &hidden), "root:x");
    EXPECT_EQ(hidden, 4u);
    EXPECT_EQ(Passed("\033[?2004h\033[1 q$ "), "$ ");  // private parameters, an intermediate
    const std::string own = "\033A\033B\033C\033D\033F\033G\033H\033I\033J\033K\033Z\033Y\040\040";
    EXPECT_EQ(Passed(own), own);
    EXPECT_EQ(Passed("\033Y\033[x\033[m"), "\033Y\033[x");  // ESC Y's row and column are any bytes
}

TEST(AnsiFilter, ABrokenOrOverlongSequenceGoesOnAsReceived) {
    // A lone ESC [ then the terminal's own sequence: both reach the interpreter.
    EXPECT_EQ(Passed("\033[12\033A"), "\033[12\033A");
    EXPECT_EQ(Passed("\033[1;\033[32mx"), "\033[1;x");          // then a real one, hidden
    EXPECT_EQ(Passed("\033[1\r\033[ 1m"), "\033[1\r\033[ 1m");  // a control; a parameter too late
    std::string overlong = "\033[" + std::string(70, '1') + "m";
    EXPECT_EQ(Passed(overlong), overlong);
    std::string longest = "\033[" + std::string(AnsiCsiLimit - 3, '1') + "m";
    EXPECT_EQ(Passed(longest), "");
    std::string endless = "\033]0;" + std::string(300, 't');
    EXPECT_EQ(Passed(endless), endless);
}

TEST(AnsiFilter, OscEndsWithBelOrStringTerminator) {
    uint64_t hidden = 0;
    EXPECT_EQ(Passed("a\033]0;user@host: ~\007b\033]8;;http://x/\033\\c", &hidden), "abc");
    EXPECT_EQ(hidden, 2u);
    EXPECT_EQ(Passed("\033]0;t\nx"), "\033]0;t\nx");        // a line feed: not a title
    EXPECT_EQ(Passed("\033]0;t\033Ax"), "\033]0;t\033Ax");  // ESC then not a backslash
    EXPECT_EQ(Passed("\x9d"
                     "0;t\x9c"
                     "x"),
              "x");
}

TEST(AnsiFilter, EightBitFormsOnlyOnAnEightBitLineAndNeverForTheTerminalsLetters) {
    uint64_t hidden = 0;
    EXPECT_EQ(Passed("\x9b"
                     "1;32mOK\x9b"
                     "m",
                     &hidden),
              "OK");
    EXPECT_EQ(hidden, 2u);
    // 0x9B before one of the terminal's letters is its ESC with bit 7 set.
    EXPECT_EQ(Passed("\x9b"
                     "A\x9b"
                     "Y  "),
              "\x9b"
              "A\x9b"
              "Y  ");
    // A host echoing the terminal's keys: every byte has bit 7 set.
    EXPECT_EQ(Passed("\x9b\xbf\xf4\x9b\xc1"), "\x9b\xbf\xf4\x9b\xc1");
    EXPECT_EQ(Passed("\x9b"
                     "1;32m",
                     nullptr, false),
              "\x9b"
              "1;32m");
    EXPECT_EQ(Passed("\x9d"
                     "0;t\007",
                     nullptr, false),
              "\x9d"
              "0;t\007");
}

TEST(AnsiFilter, ShowPassesEverythingAndWhatWasHeldFirst) {
    AnsiFilter f;
    EXPECT_EQ(Filter(f, "a\033[1;3"), "a");
    f.hide = false;
    EXPECT_EQ(Filter(f, "2mb"), "\033[1;32mb");
}

// The filter keeps its own copy of the interpreter's escape state (the
// letters it knows, ESC Y's two bytes): random streams keep the two alike.
// Reads long enough for the runs of plain text taken whole pass what a byte
// at a time passes.
TEST(AnsiFilter, FollowsTheInterpretersEscapeState) {
    const char alphabet[] = "\033[]1;mAYZ\007\\\x9b\x9d\x9cx\r\xc1\x1b\x9bKab cdefgh";
    std::mt19937 random(2);
    for (int stream = 0; stream < 2000; ++stream) {
        ResetScreen();
        AnsiFilter f, bytewise;
        f.hide = bytewise.hide = random() % 4 != 0;
        for (int read = 0; read < 30; ++read) {
            std::string in;
            for (unsigned k = 1 + random() % (read % 2 ? 4 : 40); k > 0; --k)
                in += alphabet[random() % (sizeof alphabet - 1)];
            std::string out = Filter(f, in), slow;
            for (char byte : in) slow += Filter(bytewise, std::string(1, byte));
            ASSERT_EQ(out, slow) << "stream " << stream;
            for (char byte : out) InterpretByte(uint8_t(byte));
            ASSERT_EQ(int(terminal.escapeState), int(f.follow)) << "stream " << stream;
        }
        EXPECT_EQ(f.hidden, bytewise.hidden);
    }
}

TEST(Bit7Watch, SpeaksOnceForAnEchoOfAKeySoonAfterIt) {
    Bit7Watch w;
    const uint8_t keys[] = {0xe5, 0xe3};
    const uint8_t echo[] = {'x', 0xe3};
    const uint8_t other[] = {0xc3, 0xa9};         // bit 7, but not what was typed
    EXPECT_FALSE(HostEchoesBit7(w, echo, 2, 0));  // nothing typed yet
    KeysSent(w, keys, 2, 1000);
    EXPECT_FALSE(HostEchoesBit7(w, other, 2, 1100));
    EXPECT_FALSE(HostEchoesBit7(w, echo, 2, 1000 + EchoWindowMilliseconds + 1));
    KeysSent(w, keys, 2, 5000);
    EXPECT_TRUE(HostEchoesBit7(w, echo, 2, 5100));
    EXPECT_FALSE(HostEchoesBit7(w, echo, 2, 5200));
    // A bell for a printable key: taken for a Meta key. Not for Tab.
    const uint8_t bell[] = {7}, tab[] = {0x89};
    Bit7Watch meta;
    KeysSent(meta, tab, 1, 0);
    EXPECT_FALSE(HostEchoesBit7(meta, bell, 1, 10));
    KeysSent(meta, keys, 1, 20);
    EXPECT_TRUE(HostEchoesBit7(meta, bell, 1, 30));
    // A word and Enter typed at once: its bells come after Enter. They count
    // once there are more of them than control keys; a host that ignores
    // bit 7 rings once for a control key at most (vi's Escape, a Tab).
    const uint8_t word[] = {0xe5, 0xe3, 0xe8, 0xef, 0xa0, 0xe8, 0xe9, 0x8d};
    const uint8_t bells[] = {7, 7};
    Bit7Watch late;
    KeysSent(late, word, sizeof word, 0);
    EXPECT_FALSE(HostEchoesBit7(late, bells, 2, 10));  // two bells, two control keys (space and Enter)
    EXPECT_TRUE(HostEchoesBit7(late, bell, 1, 20));
    const uint8_t escapes[] = {0xe1, 0xe2, 0x9b, 0x9b};
    Bit7Watch vi;
    KeysSent(vi, escapes, sizeof escapes, 0);
    EXPECT_FALSE(HostEchoesBit7(vi, bells, 2, 10));
    // After a pause the count starts again: old control keys do not stand
    // against new bells, nor old bells with new keys.
    KeysSent(vi, keys, 1, 10 + EchoWindowMilliseconds + 1);
    const uint8_t enter[] = {0x8d};
    KeysSent(vi, enter, 1, 20 + EchoWindowMilliseconds);
    EXPECT_FALSE(HostEchoesBit7(vi, bell, 1, 30 + EchoWindowMilliseconds));
    EXPECT_TRUE(HostEchoesBit7(vi, bell, 1, 40 + EchoWindowMilliseconds));
}

}  // namespace
