#include "console/features/batch_output.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "console/rules/text_rules.h"

namespace {

// What a pipe that polls writable takes without blocking (PIPE_BUF), and
// how many such pieces one pass writes before the loop's other work.
const unsigned OutputPiece = 4096;
const unsigned OutputPiecesPerPass = 64;

}  // namespace

bool BatchOutput::Allocate(unsigned capacity) {
    if (!backlog_.Allocate(capacity)) return false;
    capacity_ = capacity;
    return true;
}

void BatchOutput::Take(const uint8_t* bytes, unsigned count, const struct timespec&) {
    backlog_.Append(bytes, count, raw ? 0xFF : SevenBits);  // Room() said it fits
}

bool BatchOutput::WriteTo(int fd) {
    for (unsigned round = 0; round < OutputPiecesPerPass && !backlog_.Empty(); ++round) {
        // A blocking descriptor writes a whole piece without waiting only while it polls writable.
        struct pollfd ready = {fd, POLLOUT, 0};
        if (round > 0 && (poll(&ready, 1, 0) <= 0 || (ready.revents & POLLOUT) == 0)) break;
        unsigned length;
        const uint8_t* bytes = backlog_.Front(&length);
        ssize_t n = write(fd, bytes, length < OutputPiece ? length : OutputPiece);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) break;
        if (n <= 0) return false;
        backlog_.Consume(unsigned(n));
    }
    return true;
}
