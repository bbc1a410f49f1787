// Stand-ins for what the transfer rules ask of the window shell and the
// platform: the Send menu items and the pause, both recorded.
#ifndef BRISVANE_TESTS_RECORDING_SHELL_H
#define BRISVANE_TESTS_RECORDING_SHELL_H

#include <cstdint>
#include <vector>

struct RecordingShell {
    int sendItemsBusy = -1;  // last SetSendItems argument, -1 before any call
    int sendItemsCalls = 0;
    std::vector<uint32_t> pauses;  // each PauseMilliseconds argument
    void Clear() { *this = RecordingShell(); }
};

extern RecordingShell shell;

#endif
