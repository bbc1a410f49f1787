// Opening the files the user names for the program to read or write (the
// profiles file, the logs, a capture) so that opening can never wait: a
// FIFO without a reader, a terminal or a device would stop the loop, and
// /dev/zero or /dev/urandom never end. Only a regular file is taken, and
// /dev/null where the caller allows it. The descriptor is checked with
// fstat after opening, so a name swapped meanwhile is still caught.
#ifndef BRISVANE_CONSOLE_PLAIN_FILE_H
#define BRISVANE_CONSOLE_PLAIN_FILE_H

enum class PlainFile : unsigned char {
    Opened,
    Failed,    // open or fstat failed: errno says why
    Folder,    // a folder: refused
    NotPlain,  // a FIFO, socket or device: refused
};

// Opens `path` with `flags` (O_RDONLY or O_WRONLY and the like; O_NONBLOCK,
// O_CLOEXEC and O_NOCTTY are added), a file made with `mode` (less the
// umask). On Opened *fd holds the descriptor; on anything else nothing is
// left open and *fd is -1.
PlainFile OpenPlainFile(const char* path, int flags, bool allowNull, int* fd, unsigned mode = 0666);

// Whether `path` may be opened so later: Opened for a regular file or a
// name not there yet (/dev/null where allowed), else why not; nothing is
// opened or made.
PlainFile CheckPlainFile(const char* path, bool allowNull);

// Why a file was refused, in a few words ("is a folder", "not a plain
// file", or strerror(error) for Failed).
const char* PlainFileProblem(PlainFile result, int error);

#endif
