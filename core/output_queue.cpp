#include "core/output_queue.h"

OutputQueue outputQueue;
SendState sendState = SendState::Idle;

void OutputQueue::Fill(const uint8_t* sequence, unsigned n) {
    if (n > 3) n = 3;
    for (unsigned i = 0; i < n; ++i) bytes[i] = sequence[i];
    count = n;
}

void OutputQueue::Advance() {
    if (count == 0) return;
    bytes[0] = bytes[1];
    bytes[1] = bytes[2];  // slot 2 keeps its old value
    --count;
}
