#include "console/receive.h"

#include "core/interpreter.h"
#include "core/output_queue.h"
#include "core/screen.h"
#include "link/transfer.h"

namespace {

void ForwardReply(ReceiveTargets& targets) {
    uint8_t reply[3];
    for (unsigned i = 0; i < outputQueue.count; ++i) reply[i] = Originated(outputQueue.bytes[i], targets.sevenBit);
    targets.pump.Queue(reply, outputQueue.count, false);  // a full queue drops it, as a busy one does
    outputQueue.Discard();
}

void Keep(const Cell* row, void* history) { static_cast<History*>(history)->Push(row); }

// The interpreter takes the block in runs; it stops after a byte that
// queued a reply, which goes out at once.
void Show(ReceiveTargets& targets, const uint8_t* bytes, unsigned count) {
    for (unsigned i = 0; i < count;) {
        i += InterpretBytes(bytes + i, count - i, Keep, &targets.history);
        if (!outputQueue.IsEmpty()) ForwardReply(targets);
    }
}

}  // namespace

void ReceiveBlock(ReceiveTargets& targets, const uint8_t* bytes, unsigned count,
                  const struct timespec& arrived) {
    if (targets.log.Active()) targets.log.Received(bytes, count, arrived);
    switch (receiveMode) {
        case ReceiveMode::CaptureRaw:
            for (unsigned i = 0; i < count; ++i) WriteFileByte(captureFile, bytes[i]);
            return;
        case ReceiveMode::CaptureText:
            for (unsigned i = 0; i < count; ++i) {
                uint8_t out[2];
                unsigned n = targets.captureLineEnds.Next(bytes[i] & SevenBits, out);
                for (unsigned j = 0; j < n; ++j) WriteFileByte(captureFile, out[j]);
            }
            Show(targets, bytes, count);
            return;
        case ReceiveMode::Off:
            Show(targets, bytes, count);  // the interpreter clears bit 7
            return;
    }
}
