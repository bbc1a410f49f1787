// File operations over POSIX descriptors, for native builds of the rules.
#include "link/file_io.h"

#include <unistd.h>

unsigned ReadFileByte(FileHandle file, uint8_t* byte) {
    return read(file, byte, 1) == 1 ? 1 : 0;
}

void WriteFileByte(FileHandle file, uint8_t byte) {
    ssize_t ignored = write(file, &byte, 1);
    (void)ignored;
}

void CloseFileHandle(FileHandle file) { close(file); }
