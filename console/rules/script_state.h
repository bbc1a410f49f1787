// What a running Lua script holds between the loop's passes: its state and
// coroutine, its wait, how it ended and the text it reads. The program's
// script module (script.h) runs it; the record sits here so the console's
// state can hold it without the functions that take the whole console.
#ifndef BRISVANE_CONSOLE_SCRIPT_STATE_H
#define BRISVANE_CONSOLE_SCRIPT_STATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "console/rules/junit.h"
#include "console/rules/options.h"
#include "console/rules/schedule.h"
#include "console/rules/script_text.h"

struct lua_State;

const int ScriptRefusedExitCode = 3;

struct Script {
    Script() = default;
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;
    ~Script();                    // closes a state left running
    lua_State* state = nullptr;   // null: no script runs
    lua_State* thread = nullptr;  // the coroutine, anchored in `state`
    char name[PathCapacity] = "";
    int64_t resumeAt = 0;                  // when its wait ends (NoDeadline: only text ends it)
    bool waitsForText = false;             // new text also ends the wait
    const ScriptText* waitText = nullptr;  // the text it waits on: another line's, or null for its own
    uint64_t seen = 0;                     // that text's added when it last looked
    bool exited = false;                   // exit() was called
    int exitCode = 0;
    bool refused = false;  // it called something that would wait: it ends
    char refusal[160] = "";
    int64_t now = 0;              // the loop's time at this resume
    int64_t sliceStarted = 0;     // the real time it was resumed
    size_t memory = 0;            // what Lua holds now
    bool paused = false;          // a client attached to the served line took the line
    uint8_t transfer = 0;         // what send_file or receive_file waits for: 0 none, 1 protocol, 2 send
    bool transferFailed = false;  // the last one did not succeed
    ScriptText text;
    std::string expecting;  // the pattern expect() waits for now; empty: none
    int64_t expectingSince = 0;
    // test(): the one running (its start on the real clock, text.added
    // then), and those that ended, in order.
    bool testOpen = false;
    TestCase test;
    int64_t testStarted = 0;
    uint64_t testTextFrom = 0;
    std::vector<TestCase> tests;
};

inline bool ScriptRunning(const Script& script) { return script.state != nullptr; }

#endif
