// A script's test(name, function) and the marks' deadlines as test
// results. A test passes when its function returns; it fails on an error
// inside it, or on an expect() that times out (which ends it there). The
// failure keeps its message, the pattern and the time waited, and the
// screen then; each test keeps the text that arrived while it ran. A
// failed test does not stop the script: later tests run.
//
// In batch mode a script that returns, or a run that ends with its input,
// exits 1 when a test failed or a mark missed its deadline; exit(code),
// an error outside a test, --timeout or a signal give their own codes.
// At exit the batch run says how many failed, and --junit writes them all.
#ifndef BRISVANE_CONSOLE_TESTS_H
#define BRISVANE_CONSOLE_TESTS_H

#include <cstdint>
#include <string>

struct Session;

// The screen's row `row` (from 0) as UTF-8, without trailing blanks.
std::string ScreenRowText(int row);

// A test starts; false when one runs already (tests do not nest).
bool BeginTest(Session& console, const char* name);
// expect(pattern) gave up after `waited` ms inside a test: it failed.
void ExpectTimedOut(Session& console, const char* pattern, int64_t waited);
// The test's function returned (`fault` null) or raised `fault`.
void EndTest(Session& console, const char* fault);

// A test failed or a mark with a deadline was late or missed.
bool ChecksFailed(const Session& console);

// At exit: a test the run ended inside fails (unless exit(0) ended it),
// the summary goes to stderr in batch mode, and the --junit file is
// written. False with `problem` when it could not be.
bool FinishTests(Session& console, char* problem, unsigned capacity);

#endif
