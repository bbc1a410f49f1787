#include "console/program/tests.h"

#include <cstdio>
#include <cstring>

#include "console/line/clock.h"
#include "console/program/session.h"
#include "core/screen.h"

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The failure's text: what went wrong, then the screen as it was.
std::string Details(const std::string& lines) {
    std::string text = lines + (lines.empty() || lines.back() != '\n' ? "\n\nscreen:\n" : "\nscreen:\n");
    for (int row = 0; row < ScreenRows; ++row) text += ScreenRowText(row) + "\n";
    return text;
}

void Fail(TestCase& test, const char* kind, const std::string& message, const std::string& lines) {
    if (test.failed) return;  // the first failure is the one to see
    test.failed = true;
    test.kind = kind;
    test.message = message;
    test.details = Details(lines);
}

// The text that arrived while the test ran, line ends as LF.
std::string Received(const Script& s) {
    uint64_t lost;
    std::string text = TextSince(s.text, s.testTextFrom, &lost);
    std::string out;
    if (lost > 0) out = "(" + std::to_string(lost) + " bytes before these are not kept)\n";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
    }
    return out;
}

void Close(Session& c) {
    Script& s = c.features.script;
    s.test.milliseconds = MonotonicMilliseconds() - s.testStarted;
    s.test.output = Received(s);
    if (s.test.failed) {
        std::string said = "test " + Quoted(s.test.name) + " failed: " + s.test.message;
        c.front->Tell(c, said.c_str(), true);
    }
    s.tests.push_back(s.test);
    s.testOpen = false;
    s.test = TestCase();
}

TestCase MarkCase(const Mark& mark, const std::string& classname) {
    TestCase test;
    test.classname = classname;
    char text[MarkTextCapacity + 96];
    std::snprintf(text, sizeof text, "mark '%s' by %g s", mark.name, mark.deadline);
    test.name = text;
    test.milliseconds = mark.reached ? int64_t(mark.seconds * 1000 + 0.5) : 0;
    if (!MarkMissed(mark)) return test;
    test.failed = true;
    test.kind = "deadline";
    if (mark.reached) {
        std::snprintf(text, sizeof text, "reached at %.3f s, after its deadline of %g s", mark.seconds,
                      mark.deadline);
    } else {
        std::snprintf(text, sizeof text, "not reached (due by %g s)", mark.deadline);
    }
    test.message = text;
    test.details = Details(test.message + "\npattern: " + mark.pattern);
    return test;
}

}  // namespace

std::string ScreenRowText(int row) {
    const Cell* cells = &screen.cells[row * ScreenColumns];
    int length = ScreenColumns;
    while (length > 0 && cells[length - 1] == BlankCell) --length;
    std::string text;
    for (int i = 0; i < length; ++i) {
        Cell cell = cells[i];
        if (cell < 0x80) {
            text += char(cell);
        } else if (cell < 0x800) {
            text += char(0xC0 | (cell >> 6));
            text += char(0x80 | (cell & 0x3F));
        } else {
            text += char(0xE0 | (cell >> 12));
            text += char(0x80 | ((cell >> 6) & 0x3F));
            text += char(0x80 | (cell & 0x3F));
        }
    }
    return text;
}

bool BeginTest(Session& c, const char* name) {
    Script& s = c.features.script;
    if (s.testOpen) return false;
    s.testOpen = true;
    s.test = TestCase();
    s.test.classname = c.features.junit.classname;
    s.test.name = name;
    s.testStarted = MonotonicMilliseconds();
    s.testTextFrom = s.text.added;
    return true;
}

void ExpectTimedOut(Session& c, const char* pattern, int64_t waited) {
    Script& s = c.features.script;
    if (!s.testOpen) return;
    std::string message = "expect " + Quoted(pattern) + " timed out after " + Seconds(waited) + " s";
    Fail(s.test, "timeout", message,
         message + "\npattern: " + pattern + "\nwaited: " + Seconds(waited) + " s\n");
}

void EndTest(Session& c, const char* fault) {
    Script& s = c.features.script;
    if (!s.testOpen) return;
    if (fault != nullptr) Fail(s.test, "error", fault, std::string(fault) + "\n");
    Close(c);
}

bool ChecksFailed(const Session& c) {
    for (const TestCase& test : c.features.script.tests) {
        if (test.failed) return true;
    }
    for (unsigned i = 0; i < c.features.marks.count; ++i) {
        if (MarkMissed(c.features.marks.marks[i])) return true;
    }
    return false;
}

bool FinishTests(Session& c, char* problem, unsigned capacity) {
    Script& s = c.features.script;
    if (s.testOpen) {
        if (!s.exited || s.exitCode != 0) {
            std::string why = s.exited ? "the script left with exit(" + std::to_string(s.exitCode) + ")"
                              : c.features.batch.timedOut ? "the run timed out (--timeout)"
                                                          : "the run ended before the test did";
            std::string lines = why + "\n";
            if (!s.expecting.empty()) {
                int64_t waited = MonotonicMilliseconds() - s.expectingSince;
                why += " while expect " + Quoted(s.expecting) + " waited " + Seconds(waited) + " s";
                lines = why + "\npattern: " + s.expecting + "\nwaited: " + Seconds(waited) + " s\n";
            }
            Fail(s.test, "ended", why, lines);
        }
        Close(c);
    }
    TestSuite suite;
    JunitFile& file = c.features.junit;
    const char* base = std::strrchr(c.options.scriptPath, '/');
    suite.name = base != nullptr                   ? base + 1
                 : c.options.scriptPath[0] != '\0' ? c.options.scriptPath
                                                   : "brisvane";
    suite.timestamp = file.timestamp;
    suite.hostname = file.hostname;
    suite.milliseconds = MonotonicMilliseconds() - file.started;
    suite.cases = s.tests;
    for (unsigned i = 0; i < c.features.marks.count; ++i) {
        const Mark& mark = c.features.marks.marks[i];
        if (mark.deadline > 0) suite.cases.push_back(MarkCase(mark, file.classname));
    }
    unsigned failed = 0;
    for (TestCase& test : suite.cases) {
        failed += test.failed ? 1 : 0;
        if (c.options.recordPath[0] == '\0') continue;
        if (!test.output.empty() && test.output.back() != '\n') test.output += '\n';
        test.output += std::string("[[ATTACHMENT|") + c.options.recordPath + "]]\n";
    }
    if (c.features.batch.on && !suite.cases.empty())
        std::fprintf(stderr, "brisvane: %u tests, %u failed\n", unsigned(suite.cases.size()), failed);
    return WriteJunitFile(file, JunitDocument(suite), problem, capacity);
}
