#include "link/file_io_posix.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

struct ReadBuffer {
    int fd = -1;
    unsigned length = 0;
    unsigned next = 0;
    uint8_t bytes[FileBufferSize];
};

// The rules' one send file and one capture file, like the rules' own records.
ReadBuffer reading;
BufferedWriter writing;

}  // namespace

void BufferedWriter::WriteOut() {
    unsigned done = 0;
    while (done < length) {
        ssize_t n = write(fd, bytes + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (failure == 0) failure = n < 0 ? errno : EIO;
            break;
        }
        done += unsigned(n);
    }
    written += done;
    length = 0;
}

void BufferedWriter::Put(const uint8_t* from, unsigned count) {
    while (count > 0) {
        unsigned room = FileBufferSize - length, n = count < room ? count : room;
        std::memcpy(bytes + length, from, n);
        length += n;
        from += n;
        count -= n;
        if (length == FileBufferSize) WriteOut();
    }
}

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

int FlushFileBuffers() { return writing.Flush(); }

uint64_t BytesWrittenTo(FileHandle file) { return writing.fd == file ? writing.written : 0; }

// The writer, following `file`.
BufferedWriter& WriterFor(FileHandle file) {
    if (writing.fd != file) {
        writing.WriteOut();  // a failure stays to be reported
        writing.fd = file;
        writing.written = 0;
    }
    return writing;
}

void WriteFileByte(FileHandle file, uint8_t byte) { WriterFor(file).Put(byte); }

void WriteFileBytes(FileHandle file, const uint8_t* bytes, unsigned count) {
    WriterFor(file).Put(bytes, count);
}

int CloseWrittenFile(FileHandle file) {
    int failure = 0;
    if (writing.fd == file) {
        failure = writing.Flush();
        writing.fd = -1;
    }
    if (reading.fd == file) reading.fd = -1;
    // A close can report a write the kernel had not finished (NFS, a quota).
    if (close(file) != 0 && failure == 0) failure = errno;
    return failure;
}

void CloseFileHandle(FileHandle file) { CloseWrittenFile(file); }
