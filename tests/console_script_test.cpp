// Scripts on a console with a fake line, on a clock the test gives: the
// text expect() sees, what send() queues, waits, errors, runaway scripts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "console/program/commands.h"
#include "console/program/line_controls.h"
#include "console/screen/receive.h"
#include "console/program/script.h"
#include "console/program/tests.h"
#include "console/rules/junit.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "tests/support/fake_line.h"
#include "tests/support/with_front.h"

namespace {

class Scripts : public ::testing::Test {
protected:
    std::unique_ptr<FrontEnd> front = ScreenFrontEnd();
    std::unique_ptr<Session> console{WithFront(new Session(), front.get())};
    char folder[32] = "/tmp/brisvane-script-XXXXXX";
    int64_t now = 1000;

    void SetUp() override {
        ASSERT_NE(mkdtemp(folder), nullptr);
        Session& c = *console;
        DefaultOptions(&c.options);
        c.link.line.reset(new FakeLine());
        c.link.state = LinkState::Open;
        ASSERT_TRUE(c.ui.history.Allocate(10));
        ResetScreen();
        outputQueue.count = 0;
    }
    void TearDown() override {
        StopScript(*console);
        ASSERT_EQ(std::system((std::string("rm -rf ") + folder).c_str()), 0);
    }
    std::string Start(const std::string& source) {
        std::string path = std::string(folder) + "/t.lua";
        std::ofstream(path) << source;
        EXPECT_TRUE(StartScript(*console, path.c_str(), now)) << console->notice.text;
        return path;
    }
    Reaction Run(int64_t at) { return RunScript(*console, now = at); }
    // Host bytes through the receive rule, as the loop gives them.
    void Host(const std::string& bytes) {
        struct timespec arrived = {};
        ReceiveBlock(console->chain, reinterpret_cast<const uint8_t*>(bytes.data()), unsigned(bytes.size()),
                     arrived);
    }
    std::string Queued() {  // all of it fits one stage here
        unsigned count;
        console->pump.StageQueued(now, 0);
        const uint8_t* bytes = console->pump.Pending(&count);
        std::string all(reinterpret_cast<const char*>(bytes), count);
        console->pump.Wrote(count, now, 0);
        return all;
    }
};

TEST_F(Scripts, ExpectSeesTheTextAsShownAndSendKeepsTheByteRules) {
    Session& c = *console;
    Start(
        "local m, n = expect('login: ')\n"
        "send('root\\r')\n"
        "local v, major = expect('v(%d+)%.%d+')\n"
        "send_raw(v .. major)\n"
        "exit(expect('ok', 50) == nil and 3 or 4)\n");
    Run(1000);
    EXPECT_EQ(ScriptDeadline(c), NoDeadline);  // waits for text alone
    Host("\x1b[01;31mboard \xecogin: ");       // colour and bit 7 as the screen shows them
    EXPECT_EQ(ScriptDeadline(c), 0);
    EXPECT_EQ(Run(1001), Nothing);
    EXPECT_EQ(Queued(), "root\r");  // bit 7 clear, as keys are
    Host(
        "\x1b"
        "Y"
        "\x21\x21"
        "v12.3 \r\n");  // the cursor address is no text
    Run(1002);
    EXPECT_EQ(Queued(), "v12.312");
    Host("not it");
    Run(1003);
    EXPECT_EQ(ScriptDeadline(c), 1052);  // expect's own timeout
    EXPECT_EQ(Run(1052), Quit);
    EXPECT_EQ(c.exitCode, 3);

    c.options.sevenBit = true;
    Start("send('ab')\n");
    Run(2000);
    EXPECT_EQ(Queued(), "ab");
    EXPECT_STREQ(c.notice.text, "script t.lua ended");
}

TEST_F(Scripts, SleepControlsRowsAndLog) {
    Session& c = *console;
    FakeLine& line = static_cast<FakeLine&>(*c.link.line);
    Host(
        "first row\r\n\x1b"
        "Y"
        "\x37\x20"
        "last");
    Start(
        "sleep(100)\n"
        "assert(break_() and dtr(false) and rts(true))\n"
        "assert(row(1) == 'first row' and rows()[24] == 'last' and #rows() == 24)\n"
        "print('all', 3)\n"
        "sleep(10)\n");
    Run(1000);
    EXPECT_EQ(ScriptDeadline(c), 1100);
    Run(1100);
    EXPECT_EQ(line.calls, "break on; dtr off; rts on; ");
    EXPECT_EQ(c.link.breakEndsAt, 1100 + BreakMilliseconds);
    EXPECT_STREQ(c.notice.text, "all\t3");
}

// A runtime error's file and line are in the tmux test.
TEST_F(Scripts, ErrorsNameTheFileAndLine) {
    Session& c = *console;
    Start("expect('(')\n");
    Run(1000);
    EXPECT_NE(std::string(c.notice.text).find("t.lua:1: expect: "), std::string::npos) << c.notice.text;
    Start("coroutine.wrap(function() sleep(5) end)()\n");  // its own coroutine cannot wait for the loop
    Run(1000);
    EXPECT_NE(std::string(c.notice.text).find("not in a coroutine of its own"), std::string::npos)
        << c.notice.text;
    std::string broken = std::string(folder) + "/broken.lua";
    std::ofstream(broken) << "if then\n";
    EXPECT_FALSE(StartScript(c, broken.c_str(), now));
    EXPECT_NE(std::string(c.notice.text).find("broken.lua:1:"), std::string::npos) << c.notice.text;
    EXPECT_FALSE(ScriptRunning(c.features.script));
}

// Several lines: a script on the first names the others by label. Each
// call works on the line named (its text, its screen, its output, its
// marks), the script's own line keeps the core between calls, and an
// unknown label is an error naming the labels there are.
TEST_F(Scripts, CallsNamingALineWorkOnThatLineAlone) {
    Session& dut = *console;
    std::unique_ptr<Session> others[2];
    LineTable table;
    Session* current = &dut;
    table.current = &current;
    const char* labels[] = {"dut", "bmc", "power"};
    for (unsigned i = 0; i < 3; ++i) {
        if (i > 0) {
            others[i - 1].reset(WithFront(new Session(), front.get()));
            Session& s = *others[i - 1];
            DefaultOptions(&s.options);
            s.link.line.reset(new FakeLine());
            s.link.state = LinkState::Open;
            ASSERT_TRUE(s.ui.history.Allocate(10));
            ASSERT_TRUE(MakeCoreRecords(&s.core));
        }
        Session& s = i == 0 ? dut : *others[i - 1];
        std::snprintf(s.label, sizeof s.label, "%s", labels[i]);
        s.all = &table;
        table.lines[table.count++] = &s;
    }
    struct Unlink {  // the table goes first, whatever fails
        Session& s;
        ~Unlink() { s.all = nullptr; }
    } unlink{dut};
    Session &bmc = *others[0], &power = *others[1];
    auto host = [&](Session& s, const std::string& bytes) {  // as the loop gives a line its bytes
        EnterLine(&current, s);
        struct timespec arrived = {};
        ReceiveBlock(s.chain, reinterpret_cast<const uint8_t*>(bytes.data()), unsigned(bytes.size()),
                     arrived);
        EnterLine(&current, dut);
    };
    auto queued = [&](Session& s) {
        unsigned count;
        s.pump.StageQueued(now, 0);
        const uint8_t* bytes = s.pump.Pending(&count);
        return std::string(reinterpret_cast<const char*>(bytes), count);
    };
    Start(
        "local b = line('bmc')\n"
        "local _, version = b.expect('v(%d+)')\n"
        "send('boot ' .. version .. '\\r', 'power')\n"
        "b:send('x')\n"
        "mark('dut up'); mark('bmc up', 'bmc'); b.mark('bmc again')\n"
        "local _, why = pcall(function() send('y', 'nope') end); local _, bad = pcall(function() b.send({}) "
        "end)\n"
        "log(row(1, 'bmc') .. '|' .. row(1) .. '|' .. why .. '|' .. bad)\n"
        "line('power').expect('on')\n"
        "line('nope')\n");
    Run(1000);
    EXPECT_TRUE(power.features.script.text.listening);  // kept for the script, though none runs there
    host(dut, "v1\r\n");                                // not the line it waits on
    EXPECT_EQ(ScriptDeadline(dut), NoDeadline);
    host(bmc, "v7\r\n");
    EXPECT_EQ(ScriptDeadline(dut), 0);
    Run(1001);
    EXPECT_EQ(current, &dut);
    EXPECT_EQ(queued(power), "boot 7\r");
    EXPECT_EQ(queued(bmc), "x");
    EXPECT_EQ(queued(dut), "");
    ASSERT_EQ(dut.features.marks.count, 1u);
    EXPECT_STREQ(dut.features.marks.marks[0].name, "dut up");
    ASSERT_EQ(bmc.features.marks.count, 2u);
    EXPECT_STREQ(bmc.features.marks.marks[1].name, "bmc again");
    std::string said = dut.notice.text;  // bmc's row, its own row, the errors name the script's line
    EXPECT_EQ(said.substr(0, 6), "v7|v1|");
    EXPECT_NE(said.find("/t.lua:6: send: no line 'nope': the lines are dut, bmc, power|"), std::string::npos)
        << said;
    EXPECT_NE(said.find("/t.lua:6: send: give a string"), std::string::npos) << said;
    EXPECT_EQ(ScreenRowText(0), "v1");  // the core is the script's line's again
    host(power, "power on\r\n");
    Run(1002);
    EXPECT_NE(
        std::string(dut.notice.text).find("t.lua:9: line: no line 'nope': the lines are dut, bmc, power"),
        std::string::npos)
        << dut.notice.text;
    EXPECT_FALSE(ScriptRunning(dut.features.script));
    EXPECT_FALSE(power.features.script.text.listening);
    // One line: no labels to name.
    dut.all = nullptr;
    Start("send('x', 'bmc')\n");
    Run(1003);
    EXPECT_NE(std::string(dut.notice.text).find("t.lua:1: send: no line 'bmc': there is one line"),
              std::string::npos)
        << dut.notice.text;
}

// A script that never waits gets slices; one that grows without end meets
// the memory bound; neither takes the program with it.
TEST_F(Scripts, BusyAndGreedyScriptsLeaveTheLoopItsTurns) {
    Session& c = *console;
    Start("while true do end\n");
    Run(1000);
    EXPECT_TRUE(ScriptRunning(c.features.script));
    EXPECT_EQ(ScriptDeadline(c), 0);  // due again at once
    StopScript(c);

    Start("local t = {}\nfor i = 1, 1e9 do t[i] = ('x'):rep(1000) .. i end\n");
    for (int pass = 0; pass < 100000 && ScriptRunning(c.features.script); ++pass) Run(1000 + pass);
    EXPECT_FALSE(ScriptRunning(c.features.script));
    EXPECT_NE(std::string(c.notice.text).find("not enough memory"), std::string::npos) << c.notice.text;
}

// Without the debug library the hook that gives the loop its turns stays:
// a script that tries to remove it is still yielded every slice.
TEST_F(Scripts, TheSliceHookCannotBeRemoved) {
    Session& c = *console;
    Start(
        "pcall(function() debug.sethook() end)\n"
        "pcall(function() require('debug').sethook() end)\n"
        "for i = 1, 3e8 do end\n"
        "exit(5)\n");
    Run(1000);
    EXPECT_TRUE(ScriptRunning(c.features.script)) << c.notice.text;
    EXPECT_EQ(ScriptDeadline(c), 0);
}

// Modules are Lua files beside the script; no shared object is loaded.
TEST_F(Scripts, RequireFindsLuaModulesBesideTheScriptOnly) {
    Session& c = *console;
    std::ofstream(std::string(folder) + "/helper.lua") << "return {answer = 7}\n";
    std::ofstream(std::string(folder) + "/native.so") << "not an object\n";
    Start(std::string("assert(package.loadlib == nil, 'loadlib')\n"
                      "package.cpath = '") +
          folder +
          "/?.so'\n"
          "local ok, why = pcall(require, 'native')\n"
          "assert(not ok and why:find(\"module 'native' not found\") and not why:find('native.so'), why)\n"
          "assert(load(string.dump(function() end)) == nil, 'a compiled chunk')\n"
          "exit(require('helper').answer)\n");
    EXPECT_EQ(Run(1000), Quit) << c.notice.text;
    EXPECT_EQ(c.exitCode, 7) << c.notice.text;
}

// Each test(): passed, failed on an expect's timeout (which ends it) or on
// an error; later tests still run, and the text each saw is its own.
TEST_F(Scripts, TestsKeepTheirFailuresAndTextAndFailTheBatchRun) {
    Session& c = *console;
    c.features.batch.on = true;
    front = BatchFrontEnd();
    c.front = front.get();
    c.features.junit.classname = "board";
    Start(
        "assert(test('boots', function() expect('login:') end))\n"
        "assert(not test('prompt', function() expect('# ', 50); send('not sent') end))\n"
        "assert(not test('broken', function() error('on purpose') end))\n"
        "assert(not pcall(test, 'outer', function() test('inner', function() end) end))\n");
    Run(1000);
    Host("U-Boot\r\nlogin:");
    Run(1001);
    Host("wrong\r\n");
    Run(1002);
    EXPECT_EQ(Run(1051), Quit);  // 50 ms after the match
    EXPECT_EQ(c.exitCode, 1);    // the script returned, with tests failed
    EXPECT_EQ(Queued(), "");
    const std::vector<TestCase>& tests = c.features.script.tests;
    ASSERT_EQ(tests.size(), 4u) << c.notice.text;
    EXPECT_EQ(tests[0].classname + " " + tests[0].name, "board boots");
    EXPECT_FALSE(tests[0].failed);
    EXPECT_EQ(tests[0].output, "U-Boot\nlogin:");
    EXPECT_EQ(tests[1].kind + ": " + tests[1].message, "timeout: expect '# ' timed out after 0.050 s");
    EXPECT_EQ(tests[1].output, "wrong\n");
    EXPECT_NE(tests[1].details.find("pattern: # \nwaited: 0.050 s\n"), std::string::npos) << tests[1].details;
    EXPECT_NE(tests[1].details.find("screen:\nU-Boot\nlogin:wrong\n\n"), std::string::npos)
        << tests[1].details;
    EXPECT_EQ(tests[2].kind + ": " + tests[2].message,
              "error: " + std::string(folder) + "/t.lua:3: on purpose");
    EXPECT_EQ(tests[3].message.substr(tests[3].message.size() - 38),
              "test: a test cannot run inside another");

    // exit() inside a test gives its code; the test is closed at the end.
    Start("test('left', function() exit(0) end)\ntest('never', function() end)\n");
    EXPECT_EQ(Run(2000), Quit);
    EXPECT_EQ(c.exitCode, 0);
    Start("test('left', function() exit(4) end)\n");
    EXPECT_EQ(Run(3000), Quit);
    char problem[200];
    ASSERT_TRUE(FinishTests(c, problem, sizeof problem));
    ASSERT_EQ(c.features.script.tests.size(), 1u);
    EXPECT_EQ(c.features.script.tests[0].message, "the script left with exit(4)");
}

TEST(Junit, EscapedCountedAndValidXml) {
    TestSuite suite;
    suite.name = "boot.lua";
    suite.timestamp = "2026-12-08T11:40:00";
    suite.milliseconds = 12345;
    TestCase passed;
    passed.classname = "/dev/ttyUSB0";
    passed.name = "a <b> & \"c\" 'd'\n";
    passed.milliseconds = 7;
    TestCase failed = passed;
    failed.name = "bad";
    failed.milliseconds = 61001;
    failed.failed = true;
    failed.kind = "timeout";
    failed.message = "expect '#' timed out\tafter\r";
    failed.details = "pattern: #\nscreen:\n]]> row";
    // A control byte, bytes that are not UTF-8 (a stray continuation, an
    // overlong NUL, a surrogate, a cut sequence), UTF-8 kept, DEL.
    failed.output = std::string("\x1b[1m\x00ok\x80 \xc0\x80 \xed\xa0\x80 \xc3\xa9 \x7f \xe2\x82", 23);
    suite.cases = {passed, failed};
    std::string xml = JunitDocument(suite);
    EXPECT_EQ(xml.substr(0, 39), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    EXPECT_NE(xml.find("<testsuites name=\"boot.lua\" tests=\"2\" failures=\"1\" errors=\"0\" skipped=\"0\" "
                       "time=\"12.345\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("tests=\"2\" failures=\"1\" errors=\"0\" skipped=\"0\" time=\"12.345\" "
                       "timestamp=\"2026-12-08T11:40:00\">"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<testcase classname=\"/dev/ttyUSB0\" name=\"a &lt;b&gt; &amp; &quot;c&quot; "
                       "&apos;d&apos;&#10;\" "
                       "time=\"0.007\"/>"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("name=\"bad\" time=\"61.001\">\n      <failure message=\"expect &apos;#&apos; timed "
                       "out&#9;after&#13;\" type=\"timeout\">pattern: #\nscreen:\n]]&gt; row</failure>\n"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find("<system-out>\xe2\x90\x9b[1m\xe2\x90\x80ok\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd "
                       "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd \xc3\xa9 \xe2\x90\xa1 "
                       "\xef\xbf\xbd\xef\xbf\xbd</system-out>"),
              std::string::npos)
        << xml;
    std::string end = "</system-out>\n    </testcase>\n  </testsuite>\n</testsuites>\n";
    EXPECT_EQ(xml.substr(xml.size() - end.size()), end);
}

}  // namespace
