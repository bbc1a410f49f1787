// What a command or a key did that the loop must act on: draw at the next
// frame, clear the user's terminal and draw everything, or leave.
#ifndef BRISVANE_CONSOLE_REACTION_H
#define BRISVANE_CONSOLE_REACTION_H

enum Reaction : unsigned {
    Draw = 1,       // something shown changed
    RedrawAll = 2,  // the user's terminal may be disturbed: clear and draw it all
    Quit = 4,       // leave (the console's exitCode says how)
};

inline Reaction operator|(Reaction a, Reaction b) { return Reaction(unsigned(a) | unsigned(b)); }

#endif
