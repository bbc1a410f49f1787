#include "console/files.h"

#include <cerrno>
#include <unistd.h>

namespace {

// One file is read (the send file) and one written (the capture file) at a
// time; a buffer follows whichever descriptor it was last used with.
struct ReadBuffer {
    int fd = -1;
    unsigned length = 0;
    unsigned next = 0;
    uint8_t bytes[65536];
};
struct WriteBuffer {
    int fd = -1;
    unsigned length = 0;
    int failure = 0;
    uint8_t bytes[65536];
};

ReadBuffer reading;
WriteBuffer writing;

}  // namespace

unsigned ReadFileByte(FileHandle file, uint8_t* byte) {
    if (reading.fd != file) {
        reading.fd = file;
        reading.length = reading.next = 0;
    }
    if (reading.next == reading.length) {
        ssize_t n;
        do {
            n = read(file, reading.bytes, sizeof reading.bytes);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return 0;  // end of file, or a failed read ends the send
        reading.length = unsigned(n);
        reading.next = 0;
    }
    *byte = reading.bytes[reading.next++];
    return 1;
}

int FlushFileBuffers() {
    unsigned done = 0;
    while (done < writing.length) {
        ssize_t n = write(writing.fd, writing.bytes + done, writing.length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            writing.failure = n < 0 ? errno : EIO;
            break;
        }
        done += unsigned(n);
    }
    writing.length = 0;
    int failure = writing.failure;
    writing.failure = 0;
    return failure;
}

void WriteFileByte(FileHandle file, uint8_t byte) {
    if (writing.fd != file) {
        FlushFileBuffers();
        writing.fd = file;
    }
    writing.bytes[writing.length++] = byte;
    if (writing.length == sizeof writing.bytes) {
        int failure = FlushFileBuffers();
        if (failure != 0) writing.failure = failure;  // kept for the loop to report
    }
}

void CloseFileHandle(FileHandle file) {
    if (writing.fd == file) {
        FlushFileBuffers();
        writing.fd = -1;
    }
    if (reading.fd == file) reading.fd = -1;
    close(file);
}
