#include "shell/menu_commands.h"

#include <commdlg.h>

#include "core/screen.h"
#include "link/transfer.h"
#include "resources/resource_ids.h"
#include "shell/error_box.h"
#include "shell/menu_items.h"
#include "shell/session.h"
#include "shell/window.h"

HANDLE ChooseFile(bool forSaving) {
    char fileName[260];
    fileName[0] = '\0';
    OPENFILENAMEA dialog;
    ZeroMemory(&dialog, sizeof dialog);
    // The record without the fields later platform versions appended.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = mainWindow;
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = sizeof fileName;
    dialog.lpstrInitialDir = session.homeDirectory;
    // No overwrite prompt: an existing capture file is replaced.
    dialog.Flags = OFN_LONGNAMES | OFN_PATHMUSTEXIST | (forSaving ? 0 : OFN_FILEMUSTEXIST);
    BOOL chosen = forSaving ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
    if (!chosen) return INVALID_HANDLE_VALUE;

    HANDLE file = forSaving ? CreateFileA(fileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL)
                            : CreateFileA(fileName, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) ShowError(StringCannotOpenFile);
    return file;
}

static void StartSend(SendState mode) {
    if (sendState != SendState::Idle) return;
    HANDLE file = ChooseFile(false);
    if (file == INVALID_HANDLE_VALUE) return;
    sendFile = file;
    sendState = mode;  // the loop fetches the first byte
    SetSendItems(true);
}

static void StartCapture(ReceiveMode mode) {
    if (receiveMode != ReceiveMode::Off) return;
    HANDLE file = ChooseFile(true);
    if (file == INVALID_HANDLE_VALUE) return;
    captureFile = file;
    receiveMode = mode;
    SetCaptureItems(true);
}

static void EndCapture() {
    if (receiveMode == ReceiveMode::Off) return;
    CloseHandle(captureFile);
    receiveMode = ReceiveMode::Off;
    SetCaptureItems(false);
}

void OnCommand(unsigned commandId) {
    switch (commandId) {
        case CommandExit: DestroyWindow(mainWindow); break;
        case CommandSendRaw: StartSend(SendState::SendRaw); break;
        case CommandSendBinary: StartSend(SendState::SendBinary); break;
        case CommandSendText: StartSend(SendState::SendText); break;
        case CommandSendEnd:
            if (sendState != SendState::Idle) EndSend();
            break;
        case CommandReceiveRaw: StartCapture(ReceiveMode::CaptureRaw); break;
        case CommandReceiveText: StartCapture(ReceiveMode::CaptureText); break;
        case CommandReceiveEnd: EndCapture(); break;
        case CommandClear:
            ResetScreen();
            RepaintAll();
            break;
        default: break;
    }
}
