#include "tests/support/recording_shell.h"

#include "link/file_io.h"
#include "link/transfer.h"

RecordingShell shell;

void SetSendItems(bool busy) {
    shell.sendItemsBusy = busy;
    ++shell.sendItemsCalls;
}

void PauseMilliseconds(uint32_t milliseconds) { shell.pauses.push_back(milliseconds); }
