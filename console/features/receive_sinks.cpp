#include "console/features/receive_sinks.h"

#include "link/file_io.h"
#include "link/file_io_posix.h"
#include "link/transfer.h"

void RawCaptureSink::Take(const uint8_t* bytes, unsigned count, const struct timespec&) {
    if (receiveMode != ReceiveMode::CaptureRaw) return;
    WriteFileBytes(captureFile, bytes, count);
}

void TextCaptureSink::Take(const uint8_t* bytes, unsigned count, const struct timespec&) {
    if (receiveMode != ReceiveMode::CaptureText) return;
    for (unsigned i = 0; i < count; ++i) {
        uint8_t out[2];
        unsigned n = lineEnds_.Next(bytes[i] & SevenBits, out);
        for (unsigned j = 0; j < n; ++j) WriteFileByte(captureFile, out[j]);
    }
}
