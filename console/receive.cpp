#include "console/receive.h"

#include "console/transfers.h"
#include "core/interpreter.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/transfer.h"

namespace {

const unsigned FilterChunk = 4096;

inline void Show(ReceiveTargets& targets, uint8_t byte) {
    if (byte == LineFeed && terminal.row == LastRow && terminal.escapeState == EscapeState::Normal) {
        targets.history.Push(&screen.cells[0]);  // about to scroll off the top
    }
    if (targets.scriptText != nullptr) TakeShown(*targets.scriptText, byte, terminal.escapeState != EscapeState::Normal);
    InterpretByte(byte);
    if (outputQueue.IsEmpty()) return;
    uint8_t reply[3];
    for (unsigned i = 0; i < outputQueue.count; ++i) reply[i] = Originated(outputQueue.bytes[i], targets.sevenBit);
    targets.pump.Queue(reply, outputQueue.count, false);  // a full queue drops it, as a busy one does
    outputQueue.Discard();
}

}  // namespace

void ReceiveBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                  const struct timespec& arrived) {
    if (targets.log.Active()) targets.log.ReceivedRaw(bytes, count);
    ReceiveMode capture = CurrentTransferModes().capture;
    if (capture == ReceiveMode::CaptureRaw) {
        if (targets.log.Active()) targets.log.ReceivedText(bytes, count, arrived);
        for (unsigned i = 0; i < count; ++i) WriteFileByte(captureFile, bytes[i]);
        return;
    }
    uint8_t shown[FilterChunk + AnsiFilterSlack];
    for (unsigned offset = 0; offset < count; offset += FilterChunk) {
        unsigned chunk = count - offset < FilterChunk ? count - offset : FilterChunk;
        unsigned n = FilterAnsi(targets.ansi, bytes + offset, chunk, shown);
        if (targets.log.Active()) targets.log.ReceivedText(shown, n, arrived);
        if (capture == ReceiveMode::CaptureText) {
            for (unsigned i = 0; i < n; ++i) {
                uint8_t byte = shown[i] & SevenBits;
                uint8_t out[2];
                unsigned m = targets.captureLineEnds.Next(byte, out);
                for (unsigned j = 0; j < m; ++j) WriteFileByte(captureFile, out[j]);
                Show(targets, byte);
            }
        } else {
            for (unsigned i = 0; i < n; ++i) Show(targets, shown[i] & SevenBits);
        }
    }
}
