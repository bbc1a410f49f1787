// The front end, chosen once at start-up: the screen (a curses terminal:
// keys in, frames out) or batch (standard input to the line, no screen).
// The loop and the features ask it what to do where the two differ instead
// of testing which one runs; a served line (no terminal, clients on a
// socket) is the third. What a line has to say goes through Tell.
#ifndef BRISVANE_CONSOLE_FRONT_END_H
#define BRISVANE_CONSOLE_FRONT_END_H

#include <cstdint>
#include <memory>
#include <poll.h>

#include "console/rules/reaction.h"

struct Console;
struct Session;

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // True while keys should wait in the terminal (the line is full and moving).
    virtual bool HoldKeys(const Console& console, int64_t now) const = 0;
    // The user's side of the wait (fd -1: nothing now).
    virtual struct pollfd Input(const Console& console, bool holdKeys) const = 0;
    // What poll said of it, or keys left over from the last pass.
    virtual Reaction ReadInput(Console& console, short revents, bool holdKeys, int64_t now) = 0;
    // The next frame: when, and drawing it.
    virtual int64_t FrameDue(const Console& console) const = 0;
    virtual void Draw(Console& console, int64_t now) = 0;
    // SIGWINCH or SIGCONT.
    virtual void Signal(Console& console, int number) = 0;
    // A line for the user (the status line, or standard error; `fault`
    // names the program first there).
    virtual void Tell(Session& line, const char* text, bool fault) = 0;
    // True when a script's end ends the run.
    virtual bool ScriptEndsRun() const = 0;
};

std::unique_ptr<FrontEnd> ScreenFrontEnd();  // loop.cpp
std::unique_ptr<FrontEnd> BatchFrontEnd();   // batch.cpp

#endif
