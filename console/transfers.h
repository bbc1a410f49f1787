// Starting and ending file sends and captures from the menu: the file is
// asked for on the status line, opened, and handed to the shared transfer
// rules, which do the rest. One send and one capture at a time; a capture
// to an existing file asks whether to overwrite or append.
#ifndef BRISVANE_CONSOLE_TRANSFERS_H
#define BRISVANE_CONSOLE_TRANSFERS_H

#include <cstdint>

#include "core/output_queue.h"
#include "link/transfer.h"

struct TransferProgress {
    uint64_t sendTotal;  // size of the file being sent
    uint64_t sendDone;   // bytes taken from it so far
    uint64_t captured;   // bytes written to the capture file
    char sendName[64];   // the name as typed, cut for the status line
    char captureName[64];
};

extern TransferProgress progress;

void BeginSend(SendState mode);
void BeginCapture(ReceiveMode mode);
void EndSendCommand();
void EndCaptureCommand();

// True while a file name or the overwrite question waits for keys.
bool TransferAsking();
// One key for the question or the prompt.
void TransferKey(int code, bool isKeyCode);

// The status line's text for what is asked, or "" (and the cursor column).
const char* TransferQuestion(int* cursorColumn);

// At exit: the capture file gets every byte received, then both close.
void CloseTransfers();

#endif
