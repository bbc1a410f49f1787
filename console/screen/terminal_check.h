// Whether the user's terminal can be driven at all, asked before anything
// is drawn: the screen and the status line need a terminal that places the
// cursor. A terminal that cannot (TERM=dumb), or a TERM that is unset or
// unknown here, would have host text run over the status line.
#ifndef BRISVANE_CONSOLE_TERMINAL_CHECK_H
#define BRISVANE_CONSOLE_TERMINAL_CHECK_H

// True when TERM names a terminal type known here that can place the
// cursor; otherwise false with a one-line problem that says what to do.
bool TerminalCanBeDriven(char* problem, unsigned capacity);

#endif
