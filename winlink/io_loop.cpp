#include "winlink/io_loop.h"

#include <windows.h>

#include "core/screen.h"
#include "core/output_queue.h"
#include "winlink/serial_port.h"
#include "link/transfer.h"

// Process-wide on purpose: a read or write still posted when the loop returns
// completes only when the port is closed, and must find its storage intact.
static OVERLAPPED readOverlapped;
static OVERLAPPED writeOverlapped;
static HANDLE waitHandles[2];  // read event first, write event second
static uint8_t readByte;
static DWORD transferred;
static bool readPending;
static bool writePending;
static DWORD readRetryTick;  // no read is posted before this tick
static bool readBackingOff;

// A dead line fails every posted read at once; retrying at this pace keeps
// the program responsive and the processor idle until the line returns.
static const DWORD DeadLineRetryMilliseconds = 100;
static const DWORD WaitMilliseconds = 10;
static const DWORD WakeMask = 0xFF;  // keys, mouse, posted, timer, paint, sent, hotkey

static void BackOffReads() {
    readBackingOff = true;
    readRetryTick = GetTickCount() + DeadLineRetryMilliseconds;
}

static bool ReadsBackingOff() {
    if (readBackingOff && LONG(GetTickCount() - readRetryTick) >= 0) readBackingOff = false;
    return readBackingOff;
}

static void PostRead() {
    if (ReadFile(SerialPort, &readByte, 1, &transferred, &readOverlapped) ||
        GetLastError() == ERROR_IO_PENDING) {
        readPending = true;  // a read done at once still signals its event
        return;
    }
    ResetEvent(readOverlapped.hEvent);
    BackOffReads();
}

static void PostWrite() {
    WriteFile(SerialPort, &outputQueue.Head(), 1, &transferred, &writeOverlapped);
    writePending = true;
}

static void ReadDone() {
    if (!readPending) return;
    readPending = false;
    DWORD count = 0;
    // A completion that moved no byte is an error of the line, not data.
    if (GetOverlappedResult(SerialPort, &readOverlapped, &count, FALSE) && count == 1) {
        ByteReceived(readByte);
    } else {
        BackOffReads();
    }
}

static void WriteDone() {
    if (!writePending) return;
    outputQueue.Advance();
    writePending = false;
    WriteCompleted();
}

void RunIoLoop() {
    waitHandles[0] = CreateEventA(NULL, FALSE, FALSE, NULL);
    waitHandles[1] = CreateEventA(NULL, FALSE, FALSE, NULL);
    readOverlapped.hEvent = waitHandles[0];
    writeOverlapped.hEvent = waitHandles[1];
    readPending = false;
    writePending = false;

    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }

        if (!readPending && !ReadsBackingOff()) {
            PostRead();
        } else if (!terminal.cursorShown && GetFocus() != NULL) {
            ShowCursor();
        }

        if (sendState != SendState::Idle && outputQueue.IsEmpty()) FetchSendByte();

        if (!writePending && !outputQueue.IsEmpty() && PrepareHead()) PostWrite();

        DWORD woken = MsgWaitForMultipleObjects(2, waitHandles, FALSE, WaitMilliseconds, WakeMask);
        if (woken == WAIT_OBJECT_0) {
            ReadDone();
            // A steady stream keeps the read event set at every wait; take a
            // finished write now too, or the queue looks busy long after its
            // bytes have left.
            if (WaitForSingleObject(waitHandles[1], 0) == WAIT_OBJECT_0) WriteDone();
        } else if (woken == WAIT_OBJECT_0 + 1) {
            WriteDone();
        }
    }
}
