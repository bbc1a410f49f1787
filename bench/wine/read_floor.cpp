// The reference the end-to-end benchmark compares the program with: the
// program's serial reading and nothing else. It opens the port as the
// program does, reads one byte per overlapped ReadFile and waits exactly as
// the program's loop does, pumps its own messages, and answers ESC Z with the
// program's reply (ESC / K, bit 7 set), one overlapped byte per write, so the
// benchmark can time it the same way.
//
//   read_floor.exe [--window] [--count N] COMn:SETTINGS
//
// --window  shows a window titled "read floor" first, to time start-up to a
//           window like the program's (the loop itself needs none)
// --count N after the first answer, answers once more after N bytes, whatever
//           they are, then goes on answering ESC Z (a flood of random bytes
//           holds stray ESC Z pairs)
// Probes, to tell where the program's extra time goes (off by default):
// --draw    also draws a row for each printable byte as the program does
//           (GetDC, colours, font, 80 cells of TextOutW, ReleaseDC) on its window
// --capture FILE  also writes each counted byte (--count) to FILE, one
//           synchronous WriteFile each
// ESC q ends it with exit code 1. Exit codes: 0 usage or port error
// (0 like the program's start-up failure), 1 after ESC q.
#include <windows.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

static HANDLE port = INVALID_HANDLE_VALUE;
static OVERLAPPED readOverlapped;
static OVERLAPPED writeOverlapped;
static HANDLE waitHandles[2];  // read event first, write event second
static unsigned char readByte;
static DWORD transferred;
static bool readPending;
static bool writePending;

static unsigned char reply[3];
static int replyNext;
static int replyLength;
static bool afterEscape;
static bool quitRequested;
static HWND floorWindow;
static bool drawEach;
static HFONT drawFont;
static WCHAR drawCells[80];
static int drawColumn;
static HANDLE captureFile = INVALID_HANDLE_VALUE;
static unsigned long long countAfterReply;  // --count, armed by the first answer
static unsigned long long countLeft;        // 0: no count running

static const DWORD WaitMilliseconds = 10;
static const DWORD WakeMask = 0xFF;
static const DWORD RetryMilliseconds = 100;

// As winlink/serial_port.cpp: flag word right after BaudRate, same bits.
static bool OpenPort(const char* definition) {
    char name[260];
    size_t length = std::strcspn(definition, ":");
    if (length == 0 || length + 5 > sizeof name) return false;
    std::memcpy(name, "\\\\.\\", 4);
    std::memcpy(name + 4, definition, length);
    name[length + 4] = '\0';
    port =
        CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) return false;

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb) || !BuildCommDCBA(definition, &dcb)) return false;
    const size_t flagOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
    unsigned flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + flagOffset, sizeof flags);
    flags = (flags & 0xFFFFA095u) | (dcb.Parity != NOPARITY ? 0x2016u : 0x2014u);
    std::memcpy(reinterpret_cast<char*>(&dcb) + flagOffset, &flags, sizeof flags);
    if (!SetCommState(port, &dcb)) return false;

    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    SetCommTimeouts(port, &timeouts);
    return true;
}

static void QueueReply() {
    if (replyNext < replyLength) return;  // as the program: never two at once
    reply[0] = 0x9B;
    reply[1] = 0xAF;
    reply[2] = 0xCB;
    replyNext = 0;
    replyLength = 3;
}

static void DrawByte(unsigned char byte) {
    if (byte < 0x20 || byte > 0x7E) return;
    drawCells[drawColumn] = byte;
    drawColumn = (drawColumn + 1) % 80;
    HDC dc = GetDC(floorWindow);
    SetTextColor(dc, RGB(255, 255, 255));
    SetBkColor(dc, RGB(0, 0, 0));
    SelectObject(dc, drawFont);
    TextOutW(dc, 0, 0, drawCells, 80);
    ReleaseDC(floorWindow, dc);
}

static void Received(unsigned char byte) {
    if (drawEach) DrawByte(byte & 0x7F);
    if (countLeft != 0) {
        if (captureFile != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(captureFile, &byte, 1, &written, NULL);
        }
        if (--countLeft == 0) QueueReply();
        return;
    }
    byte &= 0x7F;
    if (afterEscape) {
        afterEscape = false;
        if (byte == 'Z') {
            QueueReply();
            countLeft = countAfterReply;
            countAfterReply = 0;
        }
        if (byte == 'q') quitRequested = true;
        return;
    }
    afterEscape = byte == 27;
}

static void PostRead() {
    if (ReadFile(port, &readByte, 1, &transferred, &readOverlapped) || GetLastError() == ERROR_IO_PENDING) {
        readPending = true;
        return;
    }
    ResetEvent(readOverlapped.hEvent);
    Sleep(RetryMilliseconds);
}

static void ReadDone() {
    if (!readPending) return;
    readPending = false;
    DWORD count = 0;
    if (GetOverlappedResult(port, &readOverlapped, &count, FALSE) && count == 1) {
        Received(readByte);
    } else {
        Sleep(RetryMilliseconds);
    }
}

static void WriteDone() {
    if (!writePending) return;
    writePending = false;
    ++replyNext;
}

static int RunLoop() {
    waitHandles[0] = CreateEventA(NULL, FALSE, FALSE, NULL);
    waitHandles[1] = CreateEventA(NULL, FALSE, FALSE, NULL);
    readOverlapped.hEvent = waitHandles[0];
    writeOverlapped.hEvent = waitHandles[1];
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return 1;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (quitRequested && !writePending && replyNext >= replyLength) return 1;
        if (!readPending) PostRead();
        if (!writePending && replyNext < replyLength) {
            WriteFile(port, &reply[replyNext], 1, &transferred, &writeOverlapped);
            writePending = true;
        }
        DWORD woken = MsgWaitForMultipleObjects(2, waitHandles, FALSE, WaitMilliseconds, WakeMask);
        if (woken == WAIT_OBJECT_0) {
            ReadDone();
            if (WaitForSingleObject(waitHandles[1], 0) == WAIT_OBJECT_0) WriteDone();
        } else if (woken == WAIT_OBJECT_0 + 1) {
            WriteDone();
        }
    }
}

static LRESULT CALLBACK FloorWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static bool ShowFloorWindow(HINSTANCE instance, int showCommand) {
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = FloorWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = "BRISVANE_READ_FLOOR";
    if (!RegisterClassA(&windowClass)) return false;
    floorWindow = CreateWindowExA(0, windowClass.lpszClassName, "read floor", WS_OVERLAPPEDWINDOW, 0, 0, 800,
                                  400, NULL, NULL, instance, NULL);
    if (floorWindow == NULL) return false;
    ShowWindow(floorWindow, showCommand);
    UpdateWindow(floorWindow);
    return true;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    bool withWindow = false;
    const char* definition = NULL;
    for (int i = 1; i < __argc; ++i) {
        if (std::strcmp(__argv[i], "--window") == 0) {
            withWindow = true;
        } else if (std::strcmp(__argv[i], "--draw") == 0) {
            withWindow = drawEach = true;
        } else if (std::strcmp(__argv[i], "--capture") == 0 && i + 1 < __argc) {
            captureFile = CreateFileA(__argv[++i], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (captureFile == INVALID_HANDLE_VALUE) return 0;
        } else if (std::strcmp(__argv[i], "--count") == 0 && i + 1 < __argc) {
            countAfterReply = std::strtoull(__argv[++i], NULL, 10);
        } else {
            definition = __argv[i];
        }
    }
    if (definition == NULL || !OpenPort(definition)) return 0;
    if (withWindow && !ShowFloorWindow(instance, showCommand)) return 0;
    for (WCHAR& cell : drawCells) cell = L' ';
    drawFont = CreateFontA(16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Courier New");
    int code = RunLoop();
    if (captureFile != INVALID_HANDLE_VALUE) CloseHandle(captureFile);
    CloseHandle(port);
    return code;
}
