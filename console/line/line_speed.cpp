#include "console/line/line_speed.h"

#include <cerrno>

#ifdef __linux__
// termios2 lives in the kernel's headers, which clash with <termios.h>: this
// file includes only these.
#include <asm/ioctls.h>
#include <asm/termbits.h>

extern "C" int ioctl(int fd, unsigned long request, ...);

bool CustomSpeedsSupported() { return true; }

int SetCustomSpeed(int fd, uint32_t baud) {
    struct termios2 attributes;
    if (ioctl(fd, TCGETS2, &attributes) != 0) return errno;
    attributes.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    attributes.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    attributes.c_ispeed = baud;
    attributes.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &attributes) != 0) return errno;
    // The driver may round; a speed far from the one asked for is refused.
    if (ioctl(fd, TCGETS2, &attributes) != 0) return errno;
    uint32_t got = attributes.c_ospeed;
    uint32_t difference = got > baud ? got - baud : baud - got;
    return difference * 50 > baud ? EINVAL : 0;  // more than 2% off
}

uint32_t ReadLineSpeed(int fd) {
    struct termios2 attributes;
    return ioctl(fd, TCGETS2, &attributes) == 0 ? attributes.c_ospeed : 0;
}
#else
bool CustomSpeedsSupported() { return false; }
int SetCustomSpeed(int, uint32_t) { return EINVAL; }
uint32_t ReadLineSpeed(int) { return 0; }
#endif

namespace {

const uint32_t StandardSpeeds[] = {50,      75,      110,     134,     150,     200,    300,     600,
                                   1200,    1800,    2400,    4800,    9600,    19200,  38400,   57600,
                                   115200,  230400,  460800,  500000,  576000,  921600, 1000000, 1152000,
                                   1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
const unsigned StandardSpeedCount = sizeof StandardSpeeds / sizeof StandardSpeeds[0];

}  // namespace

uint32_t StepStandardSpeed(uint32_t baud, int direction) {
    if (direction > 0) {
        for (uint32_t speed : StandardSpeeds) {
            if (speed > baud) return speed;
        }
        return StandardSpeeds[0];
    }
    for (unsigned i = StandardSpeedCount; i > 0; --i) {
        if (StandardSpeeds[i - 1] < baud) return StandardSpeeds[i - 1];
    }
    return StandardSpeeds[StandardSpeedCount - 1];
}
