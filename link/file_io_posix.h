// The transfer rules' file operations over POSIX descriptors, buffered: the
// send file is read and the capture file written a block at a time, so a
// transfer costs a system call per 64 KiB, not per byte. One file is read
// and one written at a time; a buffer follows the descriptor it was last
// used with. A failed write is kept, not lost: FlushFileBuffers reports it.
// Each writer counts the bytes that reached its file, so what is reported
// is what the file holds, not what was handed over.
#ifndef BRISVANE_LINK_FILE_IO_POSIX_H
#define BRISVANE_LINK_FILE_IO_POSIX_H

#include <cstdint>

#include "link/file_io.h"

const unsigned FileBufferSize = 65536;

// Bytes gathered for one descriptor and written out when full or flushed.
struct BufferedWriter {
    int fd = -1;
    unsigned length = 0;
    int failure = 0;       // errno of a write that failed since the last Flush
    uint64_t written = 0;  // bytes the kernel took, since the count was reset
    uint8_t bytes[FileBufferSize];

    void Put(uint8_t byte) {
        bytes[length++] = byte;
        if (length == FileBufferSize) WriteOut();
    }
    void Put(const uint8_t* from, unsigned count);
    // Writes out what waits; a failure is kept in `failure` (those bytes are
    // dropped: a full disk stays full).
    void WriteOut();
    // WriteOut, then returns 0 or the errno of a write that failed since the
    // last Flush.
    int Flush() {
        WriteOut();
        int result = failure;
        failure = 0;
        return result;
    }
};

// WriteFileByte for `count` bytes at once: a capture copies blocks, not bytes.
void WriteFileBytes(FileHandle file, const uint8_t* bytes, unsigned count);
// Writes out what waits for the capture file; as BufferedWriter::Flush.
int FlushFileBuffers();
// Bytes written to `file` through WriteFileByte since it was opened (0 for
// a file not written yet); what waits in the buffer is not counted.
uint64_t BytesWrittenTo(FileHandle file);
// Flushes and closes a written file: 0, or the errno of the first write or
// the close that failed. CloseFileHandle is the same, unchecked.
int CloseWrittenFile(FileHandle file);

// A program of several lines gives each its own pair of buffers (made at
// start-up) and makes the current line's the ones used; nullptr: the
// process's own.
struct FileBuffers;
FileBuffers* NewFileBuffers();
void DeleteFileBuffers(FileBuffers* buffers);
void UseFileBuffers(FileBuffers* buffers);

#endif
