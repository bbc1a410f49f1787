// A Lua script run beside the session (--script, the profile key, the
// menu's S). It is a coroutine the loop resumes: a call that waits
// (expect, sleep, a send the line cannot take yet) yields, so the screen,
// the keys and the line go on meanwhile. A script that computes without
// waiting is yielded every slice too. Lua's memory is bounded.
//
// The calls: expect(pattern [, ms]), send(text), send_raw(bytes), sleep(ms),
// break_(), dtr(on), rts(on), log(text), exit(code), rows(), row(n),
// mark(name), send_file(protocol, path), receive_file(protocol, folder)
// (the manual lists them). With several lines the calls on a line take its
// label last (send(text, "bmc")), and line(label) gives them all bound to
// it; without one they work on the script's own line. An unknown label is
// an error naming the labels there are. A call on another line works with
// that line's screen and output and gives the core back to the script's
// own line before it returns; every line's received text is kept for
// expect() while a script runs. A transfer runs as the menu's does, and the
// script waits for its end; in batch mode a script that returns after a
// failed transfer ends the run with 1. The script ends when it returns, on an error (the
// file and line on the status line; the session goes on), on exit(code)
// (the program leaves with the code), or when stopped from the menu.
// In batch mode its end ends the run: 0 when it returned, 1 on an error
// (said on stderr), else the code it gave exit().
//
// Lua's libraries come without what would wait outside the loop:
// os.execute, io.popen, io.read, io.input, io.lines and loadfile/dofile of
// standard input, and io.open, io.lines, io.output or loadfile of anything
// but a regular file. A script that calls one is stopped with a message
// (even inside pcall); in batch mode the run exits ScriptRefusedExitCode.
// Nor is there the debug library (its sethook would remove the hook that
// yields a busy script, and with it the signals and --timeout), C code
// (package.loadlib, the C searchers; require finds Lua files in the
// script's folder) or compiled chunks.
// The Lua state is closed however the session ends, mid-wait included.
#ifndef BRISVANE_CONSOLE_SCRIPT_H
#define BRISVANE_CONSOLE_SCRIPT_H

#include <cstdint>

#include "console/rules/reaction.h"
#include "console/rules/script_state.h"

struct Session;

// Loads the script in `path` to run from the next pass. False when it
// cannot be read or does not compile, with why in the notice.
bool StartScript(Session& console, const char* path, int64_t now);

// Resumes the script when its wait is over, and closes it when it ended;
// Quit when it called exit() or, in batch mode, when it ended at all.
Reaction RunScript(Session& console, int64_t now);

// When the loop must resume it next.
int64_t ScriptDeadline(const Session& console);

// Ends a running script where it waits (the menu's end command).
void StopScript(Session& console);

#endif
