// File operations over kernel handles.
#include "link/file_io.h"

#include <windows.h>

unsigned ReadFileByte(FileHandle file, uint8_t* byte) {
    DWORD transferred = 0;
    if (!ReadFile(file, byte, 1, &transferred, NULL)) return 0;
    return transferred == 1 ? 1 : 0;
}

void WriteFileByte(FileHandle file, uint8_t byte) {
    DWORD transferred = 0;
    WriteFile(file, &byte, 1, &transferred, NULL);
}

void CloseFileHandle(FileHandle file) { CloseHandle(file); }

void PauseMilliseconds(uint32_t milliseconds) { Sleep(milliseconds); }
