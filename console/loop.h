// The main loop of the Unix front end: poll() on the device, the keyboard and
// the signal pipe, with no timeout while nothing is due, so an idle session
// costs no processor time.
//
// Received bytes are read in blocks and each goes through the shared receive
// rule; the screen is flushed when no more input waits, and at most once per
// frame while a flood lasts. The output queue is written as the shared rules
// say; a file send is written in blocks. A vanished device is reopened every
// half second with the same settings, unless reconnecting is off.
#ifndef BRISVANE_CONSOLE_LOOP_H
#define BRISVANE_CONSOLE_LOOP_H

// Runs until the user exits, a terminating signal arrives, or the device is
// lost with reconnecting off; session.exitCode says which.
void RunConsoleLoop(int signalPipe);

#endif
