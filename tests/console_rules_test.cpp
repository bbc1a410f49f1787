// The Unix front end's pure rules: settings notation to termios, the command
// line, curses keys to what the host gets, and the menu's letters.
#include <gtest/gtest.h>

#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <string>
#include <vector>

#include "console/keys.h"
#include "console/local_line.h"
#include "console/menu.h"
#include "console/options.h"
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
    for (const char* bad : {"9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "fast", "0",
                            "9600,n,8,1,1", "baud=9600 speed=1", "baud", "99999999999"}) {
        Parse(bad, &problem);
        EXPECT_FALSE(problem.empty()) << bad;
    }
}

TEST(LineAttributes, SettingsBecomeTermiosFlags) {
    struct termios t = {};
    const char* problem = nullptr;
    ASSERT_TRUE(LineAttributes(Parse("115200,o,7,2"), true, &t, &problem));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL),
              tcflag_t(PARENB | PARODD | CSTOPB | CRTSCTS | CREAD | CLOCAL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);  // raw: Ctrl-C is data
    ASSERT_TRUE(LineAttributes(Parse("9600,s,8,1"), false, &t, &problem));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CRTSCTS | CSTOPB), tcflag_t(PARENB | CMSPAR));
    EXPECT_FALSE(LineAttributes(Parse("12345"), true, &t, &problem));
    EXPECT_FALSE(LineAttributes(Parse("9600,n,5,1.5"), true, &t, &problem));
}

bool ParseArgs(std::vector<const char*> args, ConsoleOptions* o, std::string* problem = nullptr) {
    args.insert(args.begin(), "brisvane");
    char text[256];
    bool ok = ParseOptions(int(args.size()), args.data(), o, text, sizeof text);
    if (problem != nullptr) *problem = text;
    return ok;
}

TEST(CommandLine, OptionsDefaultsAndRefusals) {
    ConsoleOptions o;
    ASSERT_TRUE(ParseArgs({"/dev/ttyUSB0"}, &o));
    EXPECT_EQ(o.prefixKey, 1);
    EXPECT_TRUE(o.hardwareFlow);
    EXPECT_TRUE(o.reconnect);
    EXPECT_STREQ(o.settingsText, "9600,n,8,1");
    ASSERT_TRUE(ParseArgs({"--flow", "none", "/dev/x", "baud=38400 parity=e", "--interval", "99999",
                           "--prefix", "C-]", "--no-reconnect", "--home", "/tmp"}, &o));
    EXPECT_FALSE(o.hardwareFlow);
    EXPECT_FALSE(o.reconnect);
    EXPECT_STREQ(o.settingsText, "38400,e,8,1");
    EXPECT_EQ(o.characterInterval, 10000u);
    EXPECT_EQ(o.prefixKey, 0x1D);
    EXPECT_STREQ(o.homeDirectory, "/tmp");

    std::string problem;
    std::string longPath(PathCapacity, 'x');
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {}, {"a", "b", "c"}, {"a", "--prefix"}, {"a", "--prefix", "ab"}, {"a", "--interval", "-5"},
             {longPath.c_str()}, {"a", "--home", longPath.c_str()}}) {
        EXPECT_FALSE(ParseArgs(bad, &o, &problem));
        EXPECT_FALSE(problem.empty());
    }
    uint8_t key;
    EXPECT_TRUE(ParsePrefixKey("^a", &key));
    EXPECT_EQ(key, 1);
    EXPECT_TRUE(ParsePrefixKey("ctrl+B", &key));
    EXPECT_EQ(key, 2);
    EXPECT_TRUE(ParsePrefixKey("~", &key));
    EXPECT_EQ(key, '~');
    EXPECT_FALSE(ParsePrefixKey("C-1", &key));
}

std::string Sent(int code, bool isKeyCode) {
    TranslatedKey key = TranslateKey(code, isKeyCode);
    if (key.action == KeyAction::Byte) return std::string(1, char(key.byte));
    if (key.action == KeyAction::Ignore) return "ignored";
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
    EXPECT_EQ(Sent(0x2588, false), "ignored");
    EXPECT_EQ(Sent(KEY_F(1), true), "ignored");
}

TEST(ConsoleMenu, LettersAfterThePrefix) {
    auto key = [](uint8_t b) { return TranslatedKey{KeyAction::Byte, b, TerminalKey::Count, false}; };
    menuLevel = MenuLevel::Closed;
    EXPECT_EQ(MenuKey(1, key('x')), MenuCommand::PassKey);
    EXPECT_EQ(MenuKey(1, key(1)), MenuCommand::Opened);
    EXPECT_EQ(MenuKey(1, key(1)), MenuCommand::SendPrefix);
    EXPECT_EQ(menuLevel, MenuLevel::Closed);
    MenuKey(1, key(1));
    EXPECT_EQ(MenuKey(1, key('s')), MenuCommand::Opened);
    EXPECT_EQ(MenuKey(1, key('B')), MenuCommand::SendBinary);
    MenuKey(1, key(1));
    MenuKey(1, key('r'));
    EXPECT_EQ(MenuKey(1, key('b')), MenuCommand::Cancelled);  // no binary capture
    MenuKey(1, key(1));
    EXPECT_EQ(MenuKey(1, TranslatedKey{KeyAction::Sequence, 0, TerminalKey::Up, false}),
              MenuCommand::Cancelled);
    EXPECT_EQ(MenuKey(1, key('x')), MenuCommand::PassKey);
}

}  // namespace
