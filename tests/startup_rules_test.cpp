// The platform-free rules of start-up: quoted arguments, the character
// interval, the device name and the line's flag word.
#include <gtest/gtest.h>

#include <string>

#include "winlink/dcb_flags.h"
#include "winlink/device_name.h"
#include "link/settings_notation.h"
#include "shell/arguments.h"

namespace {

struct Arguments {
    char first[260], second[260], third[260], fourth[260];
    bool firstTruncated = false;
    explicit Arguments(const char* line) {
        const char* cursor = NextQuotedArgument(line, first, sizeof first, &firstTruncated);
        cursor = NextQuotedArgument(cursor, second, sizeof second);
        cursor = NextQuotedArgument(cursor, third, sizeof third);
        NextQuotedArgument(cursor, fourth, sizeof fourth);
    }
};

TEST(QuotedArguments, FourArgumentsInOrderTextOutsideQuotesSkipped) {
    Arguments a("\"COM5:9600,n,8,1\" \"C:\\dir\" \"250\" \"Lucida Session\"");
    EXPECT_STREQ(a.first, "COM5:9600,n,8,1");
    EXPECT_STREQ(a.second, "C:\\dir");
    EXPECT_STREQ(a.third, "250");
    EXPECT_STREQ(a.fourth, "Lucida Session");

    Arguments bare("\"COM1:\" \"home\" 250 \"word\"");
    EXPECT_STREQ(bare.third, "word");  // the bare number is skipped
    EXPECT_STREQ(bare.fourth, "");
}

TEST(QuotedArguments, MissingAndUnclosedQuotes) {
    Arguments none("");
    EXPECT_STREQ(none.first, "");
    Arguments empty("\"\" \"x\"");
    EXPECT_STREQ(empty.first, "");
    Arguments unclosed("\"COM2:9600 \"rest");
    EXPECT_STREQ(unclosed.first, "COM2:9600 ");
    Arguments open("\"COM3:9600,n,8,1 \"more\" words");
    EXPECT_STREQ(open.first, "COM3:9600,n,8,1 ");
    EXPECT_STREQ(open.second, " words");  // the rest of the line, unclosed
    EXPECT_STREQ(open.third, "");
}

TEST(QuotedArguments, AnOverlongArgumentIsCutAndFlaggedTheNextStillRead) {
    std::string line = "\"" + std::string(10000, 'x') + "\" \"next\"";
    Arguments a(line.c_str());
    EXPECT_TRUE(a.firstTruncated);
    EXPECT_EQ(std::string(a.first), std::string(259, 'x'));
    EXPECT_STREQ(a.second, "next");
    Arguments fits(("\"" + std::string(259, 'y') + "\"").c_str());
    EXPECT_FALSE(fits.firstTruncated);
}

TEST(CharacterInterval, NumbersBlanksAndRubbish) {
    EXPECT_EQ(CharacterIntervalFromText("250"), 250u);
    EXPECT_EQ(CharacterIntervalFromText("  50ms"), 50u);
    EXPECT_EQ(CharacterIntervalFromText("+7"), 7u);
    EXPECT_EQ(CharacterIntervalFromText(""), 0u);
    EXPECT_EQ(CharacterIntervalFromText("fast"), 0u);
}

TEST(CharacterInterval, NeverAPauseOfWeeksOrForever) {
    EXPECT_EQ(CharacterIntervalFromText("-1"), 0u);
    EXPECT_EQ(CharacterIntervalFromText(" -100"), 0u);
    EXPECT_EQ(CharacterIntervalFromText("4294967295"), MaxCharacterInterval);
    EXPECT_EQ(CharacterIntervalFromText("99999999999999999999999"), MaxCharacterInterval);
    EXPECT_EQ(CharacterIntervalFromText("10001"), MaxCharacterInterval);
    EXPECT_EQ(CharacterIntervalFromText("10000"), 10000u);
}

TEST(DeviceName, PlainNamesGetTheDevicePrefix) {
    char name[260];
    ASSERT_TRUE(DeviceNameFromDefinition("COM12:9600,n,8,1", name, sizeof name));
    EXPECT_STREQ(name, "\\\\.\\COM12");
    ASSERT_TRUE(DeviceNameFromDefinition("COM3", name, sizeof name));
    EXPECT_STREQ(name, "\\\\.\\COM3");
    ASSERT_TRUE(DeviceNameFromDefinition("\\\\.\\COM7:9600", name, sizeof name));
    EXPECT_STREQ(name, "\\\\.\\COM7");
}

TEST(DeviceName, EmptyOrTooLongFails) {
    char name[260];
    EXPECT_FALSE(DeviceNameFromDefinition(":9600", name, sizeof name));
    EXPECT_STREQ(name, "");
    std::string longName(256, 'C');
    EXPECT_FALSE(DeviceNameFromDefinition(longName.c_str(), name, sizeof name));
    EXPECT_STREQ(name, "");
    char small[9];
    EXPECT_TRUE(DeviceNameFromDefinition("COM1:", small, sizeof small));
    EXPECT_FALSE(DeviceNameFromDefinition("COM12:", small, sizeof small));
}

TEST(LineFlagWord, HardwareFlowControlParityOnlyWhenSet) {
    // Everything set: only fBinary, fTXContinueOnXoff and the unused high
    // bits survive, plus CTS out, DTR enable and RTS handshake.
    EXPECT_EQ(LineFlagWord(0xFFFFFFFFu, false), 0xFFFFA095u);
    EXPECT_EQ(LineFlagWord(0x00000000u, false), 0x2014u);
    EXPECT_EQ(LineFlagWord(0x00000000u, true), 0x2016u);
    // fBinary (bit 0) and fTXContinueOnXoff (bit 7) are kept.
    EXPECT_EQ(LineFlagWord(0x81u, false), 0x2095u);
    // DSR flow (3), DSR sensitivity (6), XON/XOFF (8, 9), error char (10),
    // null (11), abort on error (14) are cleared; DTR becomes 1, RTS 2.
    EXPECT_EQ(LineFlagWord(0x4F48u | 0x0020u | 0x1000u, true), 0x2016u);
}

}  // namespace
