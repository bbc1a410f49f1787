#include "link/file_io_posix.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace {

struct ReadBuffer {
    int fd = -1;
    unsigned length = 0;
    unsigned next = 0;
    uint8_t bytes[FileBufferSize];
};

// The rules' one send file and one capture file, like the rules' own
// records; a program of several lines points them at the current line's.
ReadBuffer ownReading;
BufferedWriter ownWriting;
ReadBuffer* readingNow = &ownReading;
BufferedWriter* writingNow = &ownWriting;

}  // namespace

struct FileBuffers {
    ReadBuffer read;
    BufferedWriter written;
};

FileBuffers* NewFileBuffers() { return new (std::nothrow) FileBuffers(); }
void DeleteFileBuffers(FileBuffers* buffers) { delete buffers; }

void UseFileBuffers(FileBuffers* buffers) {
    readingNow = buffers != nullptr ? &buffers->read : &ownReading;
    writingNow = buffers != nullptr ? &buffers->written : &ownWriting;
}

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
    if (readingNow->fd != file) {
        readingNow->fd = file;
        readingNow->length = readingNow->next = 0;
    }
    if (readingNow->next == readingNow->length) {
        ssize_t n;
        do {
            n = read(file, readingNow->bytes, sizeof readingNow->bytes);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) return 0;  // end of file, or a failed read ends the send
        readingNow->length = unsigned(n);
        readingNow->next = 0;
    }
    *byte = readingNow->bytes[readingNow->next++];
    return 1;
}

int FlushFileBuffers() { return writingNow->Flush(); }

uint64_t BytesWrittenTo(FileHandle file) { return writingNow->fd == file ? writingNow->written : 0; }

// The writer, following `file`.
BufferedWriter& WriterFor(FileHandle file) {
    if (writingNow->fd != file) {
        writingNow->WriteOut();  // a failure stays to be reported
        writingNow->fd = file;
        writingNow->written = 0;
    }
    return *writingNow;
}

void WriteFileByte(FileHandle file, uint8_t byte) { WriterFor(file).Put(byte); }

void WriteFileBytes(FileHandle file, const uint8_t* bytes, unsigned count) {
    WriterFor(file).Put(bytes, count);
}

int CloseWrittenFile(FileHandle file) {
    int failure = 0;
    if (writingNow->fd == file) {
        failure = writingNow->Flush();
        writingNow->fd = -1;
    }
    if (readingNow->fd == file) readingNow->fd = -1;
    // A close can report a write the kernel had not finished (NFS, a quota).
    if (close(file) != 0 && failure == 0) failure = errno;
    return failure;
}

void CloseFileHandle(FileHandle file) { CloseWrittenFile(file); }
