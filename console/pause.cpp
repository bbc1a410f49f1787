// The text-send pause: it blocks the whole program, as it does on Windows.
#include <cerrno>
#include <ctime>

#include "link/file_io.h"

void PauseMilliseconds(uint32_t milliseconds) {
    struct timespec left = {time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
