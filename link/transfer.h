// Transfer rules: the byte conventions of the line and the file-transfer
// modes.
//
// Bytes the terminal originates, and the bytes of a text send, go out with
// bit 7 set; raw and binary sends pass all eight bits. The mark is applied
// when a byte is written, from the send state of that moment. Received bytes
// go to a raw capture file untouched, or are cut to seven bits, written to a
// text capture file if one is open, and interpreted.
//
// Called by the Windows program's input/output loop at four points (fetch,
// before a write, after a write, after a read) and by its menu commands
// (EndSend). The Unix program uses FetchSendByte, PrepareHead and EndSend
// the same way, paces text sends by deadlines instead of WriteCompleted's
// pause, and has a receive rule of its own (Unix line ends in text captures).
#ifndef BRISVANE_LINK_TRANSFER_H
#define BRISVANE_LINK_TRANSFER_H

#include <cstdint>

#include "link/file_io.h"
#include "core/output_queue.h"

enum class ReceiveMode : uint8_t {
    Off = 0,
    CaptureText = 1,  // seven bits written and shown
    CaptureRaw = 2,   // eight bits written, nothing shown
};

extern FileHandle sendFile;     // valid while sendState is not Idle
extern FileHandle captureFile;  // valid while receiveMode is not Off
extern ReceiveMode receiveMode;
extern uint32_t characterInterval;  // pause after each text-send byte, ms

// Reads the next byte of the send file into the empty queue. At end of file,
// on a failed read, or at 0x80 once a binary send is armed, ends the send
// instead (the 0x80 is not sent).
void FetchSendByte();
// Applies the outgoing rule to the queue's head. Returns false when the byte
// was dropped (a line feed of a text send) and nothing is to be written.
bool PrepareHead();
// A write has completed: a text send pauses for the character interval.
void WriteCompleted();
// One byte has arrived from the line.
void ByteReceived(uint8_t byte);
// Closes the send file, returns to Idle and restores the Send menu items.
void EndSend();

// A send started or ended: defined by each front end. The window greys or
// enables its Send menu items (a no-op until the window exists).
void SetSendItems(bool busy);

#endif
