// The program's entry: reads the command line, opens the port, creates the
// window, runs the loop, and releases what it holds.
#include <windows.h>

#include "core/screen.h"
#include "winlink/io_loop.h"
#include "winlink/serial_port.h"
#include "link/transfer.h"
#include "link/settings_notation.h"
#include "resources/resource_ids.h"
#include "shell/arguments.h"
#include "shell/error_box.h"
#include "shell/menu_items.h"
#include "shell/session.h"
#include "shell/window.h"

SessionSettings session;

// Exit codes: 0 when start-up fails, 1 after a normal run.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    programInstance = instance;

    bool portTooLong = false;
    const char* cursor =
        NextQuotedArgument(commandLine, session.portDefinition, sizeof session.portDefinition, &portTooLong);
    if (session.portDefinition[0] == '\0') {
        ShowError(StringUsage);
        return 0;
    }
    // A cut definition would open some other line, or the right one wrongly.
    if (portTooLong || OpenSerialPort(session.portDefinition) != 0) {
        ShowError(StringCannotOpenPort);
        return 0;
    }

    char intervalText[260];
    cursor = NextQuotedArgument(cursor, session.homeDirectory, sizeof session.homeDirectory);
    cursor = NextQuotedArgument(cursor, intervalText, sizeof intervalText);
    characterInterval = CharacterIntervalFromText(intervalText);
    NextQuotedArgument(cursor, session.fontFace, sizeof session.fontFace);

    if (!RegisterTerminalClass(instance)) return 0;
    char title[100];
    LoadStringA(instance, StringTitle, title, sizeof title);
    if (CreateTerminalWindow(instance, title) == NULL) return 0;
    ResetScreen();
    SetUpFontAndShow(session.fontFace, showCommand);

    sendState = SendState::Idle;
    receiveMode = ReceiveMode::Off;
    outputQueue.count = 0;
    SetSendItems(false);
    SetCaptureItems(false);

    RunIoLoop();

    if (receiveMode != ReceiveMode::Off) CloseHandle(captureFile);
    if (sendState != SendState::Idle) CloseHandle(sendFile);
    DeleteObject(terminalFont);
    CloseHandle(SerialPort);
    return 1;
}
