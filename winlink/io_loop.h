// The program's main loop, on its one thread. Each pass: dispatch every
// waiting window message, keep one one-byte read posted on the serial port,
// show the cursor when the window has the focus, refill the output queue
// from a file being sent, write the queue's head (one write at a time), then
// wait for a read or write completion, window input, or 10 ms.
#ifndef BRISVANE_WINLINK_IO_LOOP_H
#define BRISVANE_WINLINK_IO_LOOP_H

// Returns when WM_QUIT is taken from the message queue. The posted read (and
// a write) may still be outstanding then; their storage lives until exit.
void RunIoLoop();

#endif
