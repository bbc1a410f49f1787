// The few file operations the transfer rules need, so the rules themselves
// stay free of platform code: one-byte reads and writes, close, and a pause.
// The Windows program defines them over kernel handles (winlink/); native
// builds over POSIX descriptors, buffered (link/file_io_posix.h).
#ifndef BRISVANE_LINK_FILE_IO_H
#define BRISVANE_LINK_FILE_IO_H

#include <cstdint>

#ifdef _WIN32
typedef void* FileHandle;  // a kernel HANDLE
#else
typedef int FileHandle;  // a POSIX descriptor
#endif

// Reads one byte synchronously; returns the number of bytes read (0 at end
// of file or on failure, leaving *byte unspecified).
unsigned ReadFileByte(FileHandle file, uint8_t* byte);
// Writes one byte synchronously; the result is not examined.
void WriteFileByte(FileHandle file, uint8_t byte);
void CloseFileHandle(FileHandle file);
// Blocks the whole program for that many milliseconds.
void PauseMilliseconds(uint32_t milliseconds);

#endif
