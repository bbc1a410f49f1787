// Test results as a JUnit XML document, the form CI servers read: one
// testsuites holding one testsuite of testcases, each with its time, a
// failure (message, type and a text) and its system-out. Every string is
// made valid XML 1.0 here: the five special characters escaped, control
// bytes shown as their control pictures (U+2400 + byte), bytes that are not
// UTF-8 replaced by U+FFFD. Pure: a results table in, a string out.
#ifndef BRISVANE_CONSOLE_JUNIT_H
#define BRISVANE_CONSOLE_JUNIT_H

#include <cstdint>
#include <string>
#include <vector>

struct TestCase {
    std::string classname;
    std::string name;
    int64_t milliseconds = 0;
    bool failed = false;
    std::string kind;     // the failure's type: timeout, error, deadline, ended
    std::string message;  // the failure's one line
    std::string details;  // the failure's text: pattern, time waited, the screen
    std::string output;   // what arrived while it ran
};

struct TestSuite {
    std::string name;
    std::string timestamp;  // 2026-12-08T11:40:00, the run's start
    std::string hostname;
    int64_t milliseconds = 0;
    std::vector<TestCase> cases;
};

// The whole document, XML declaration first.
std::string JunitDocument(const TestSuite& suite);

// `count` bytes as XML character data; in an attribute tab, LF and CR are
// character references too, so a parser keeps them.
void AppendXmlText(std::string& out, const char* text, size_t count, bool attribute);

// "12.345": milliseconds as seconds, whatever the locale.
std::string Seconds(int64_t milliseconds);

#endif
