// File sends and captures for the Unix program: opening the file the user
// named, handing it to the shared transfer rules, feeding the send into the
// output pump (paced by deadlines, never by sleeping), and ending both.
// One send and one capture at a time; a capture to an existing file asks
// whether to overwrite or append; a file in use by the other transfer is
// refused, as sharing it would lose data.
#ifndef BRISVANE_CONSOLE_TRANSFERS_H
#define BRISVANE_CONSOLE_TRANSFERS_H

#include <cstdint>
#include <sys/stat.h>

#include "console/rules/notice.h"
#include "console/rules/options.h"
#include "console/rules/output_pump.h"
#include "console/rules/text_rules.h"
#include "link/transfer.h"

const unsigned TransferNameCapacity = 64;

struct Transfers {
    SendState pendingSend = SendState::Idle;  // asked for, waiting for its file name
    ReceiveMode pendingCapture = ReceiveMode::Off;
    bool askingOverwrite = false;
    char pendingPath[PathCapacity] = "";
    char pendingName[PathCapacity] = "";              // as typed
    struct stat sendStatus = {}, captureStatus = {};  // to spot one file used twice
    uint64_t sendTotal = 0;                           // size of the file being sent
    uint64_t sendDone = 0;                            // bytes taken from it so far
    bool captureAppends = false;                      // added to an existing file
    char sendName[TransferNameCapacity] = "";         // as typed, cut for the status line
    char captureName[TransferNameCapacity] = "";
    TextLineEnds sendLineEnds;
    UnixLineEnds captureLineEnds;
};

// The send file named `name` (relative to `home`) for the send asked for.
void StartSend(Transfers& transfers, const char* home, const char* name, Notice& notice);
// The capture file named `name`: opened, or the overwrite question asked.
void ChooseCapture(Transfers& transfers, const char* home, const char* name, Notice& notice);
// A key for the overwrite question: o overwrite, a append, c or Escape cancel.
void OverwriteKey(Transfers& transfers, int code, bool isKeyCode, Notice& notice);
// The question's text while it waits.
void OverwriteQuestion(const Transfers& transfers, char* text, unsigned capacity);

void EndSendCommand(Transfers& transfers, Notice& notice);
void EndCaptureCommand(Transfers& transfers, Notice& notice);

// Fills the pump's empty stage from the send file through the shared rules,
// with Unix line ends for a text send and bit 7 cleared under --seven-bit.
// A text send with an interval stages one byte at a time, when its pace
// allows; with the pump's line delay, a stage ends with each line's CR.
// `served` (attached to a served line): a text send's lines still end here
// and its pace is still kept here, but its bytes are staged as typed, with
// no bit-7 rule: the served line applies its own maps and bit 7 to them.
// Raw and binary sends are exact either way. Returns true when the send
// ended here (end of file, or a binary send's terminator).
bool FeedSend(Transfers& transfers, OutputPump& pump, int64_t now, uint32_t interval, bool sevenBit,
              bool served = false);

// Received bytes went to the capture: on disk before the next wait. A
// failed write ends the capture, saying how much the file holds.
void CaptureWritten(Transfers& transfers, Notice& notice);

// What runs, as the shared rules keep it (in process-wide records, which
// the Windows program shares): the console reads and resets it only here.
struct TransferModes {
    SendState send;
    ReceiveMode capture;
    uint64_t captured;  // bytes written to the capture file
};
TransferModes CurrentTransferModes();
inline bool SendRunning() { return CurrentTransferModes().send != SendState::Idle; }
inline bool Capturing() { return CurrentTransferModes().capture != ReceiveMode::Off; }
// Nothing runs and nothing waits: the state a run starts from.
void ResetTransferModes();
// Ends a running send at once (the line went away).
void AbandonSend();

// Ends the running capture: what is held written, flushed, closed. `text`
// gets "capture ended: N bytes in NAME", N the bytes written; or, when a
// write or the close failed, what the file holds and that the rest is lost
// (and false is returned).
bool EndCapture(Transfers& transfers, char* text, unsigned capacity);

// At exit: the capture ends as EndCapture (false and `text` when it
// failed), and the send file closes.
bool CloseTransfers(Transfers& transfers, char* text, unsigned capacity);

#endif
