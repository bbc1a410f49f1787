// What a command or a key did that the loop must act on beyond the state it
// changed: clear the user's terminal and draw everything, leave, show
// another line or the timeline. The
// loop draws what changed after every wake-up by itself (the display
// writes only what differs), so no reaction is needed for that.
#ifndef BRISVANE_CONSOLE_REACTION_H
#define BRISVANE_CONSOLE_REACTION_H

enum Reaction : unsigned {
    Nothing = 0,
    RedrawAll = 1,  // the user's terminal may be disturbed: clear and draw it all
    Quit = 2,       // leave (the line's exitCode says how); only the loop acts on it
    ShowLine = 4,   // show the line numbered in the bits from LineShift (NextLine: the next)
    ShowTimeline = 8,
};

const unsigned LineShift = 8;
const unsigned NextLine = 15;
inline Reaction ShowLineReaction(unsigned line) { return Reaction(ShowLine | (line << LineShift)); }
inline unsigned ReactionLine(Reaction reaction) { return (unsigned(reaction) >> LineShift) & 15; }

inline Reaction operator|(Reaction a, Reaction b) { return Reaction(unsigned(a) | unsigned(b)); }

#endif
