#include "console/screen/core_records.h"

#include <new>
#include <utility>

namespace {

// The buffers the core uses now: the process's own until a line's are swapped in.
FileBuffers* buffersInUse = nullptr;

}  // namespace

bool MakeCoreRecords(CoreRecords* records) {
    ScreenBuffer savedScreen = screen;
    TerminalState savedTerminal = terminal;
    ResetScreen();
    records->screen = screen;
    records->terminal = terminal;
    screen = savedScreen;
    terminal = savedTerminal;
    records->queue = OutputQueue();
    records->sendState = SendState::Idle;
    records->sendFile = records->captureFile = -1;
    records->receiveMode = ReceiveMode::Off;
    records->characterInterval = 0;
    records->buffers = NewFileBuffers();
    return records->buffers != nullptr;
}

void FreeCoreRecords(CoreRecords* records) {
    DeleteFileBuffers(records->buffers);
    records->buffers = nullptr;
}

void SwapCoreRecords(CoreRecords* records) {
    std::swap(records->screen, screen);
    std::swap(records->terminal, terminal);
    std::swap(records->queue, outputQueue);
    std::swap(records->sendState, sendState);
    std::swap(records->sendFile, sendFile);
    std::swap(records->captureFile, captureFile);
    std::swap(records->receiveMode, receiveMode);
    std::swap(records->characterInterval, characterInterval);
    std::swap(records->buffers, buffersInUse);
    UseFileBuffers(buffersInUse);
}

void ReleaseCoreBuffers() {
    DeleteFileBuffers(buffersInUse);
    buffersInUse = nullptr;
    UseFileBuffers(nullptr);
}
