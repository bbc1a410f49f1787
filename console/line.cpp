#include "console/local_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

static const struct {
    unsigned long baud;
    speed_t code;
} Speeds[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
    {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400},
#ifdef B57600
    {57600, B57600},
#endif
#ifdef B115200
    {115200, B115200},
#endif
#ifdef B230400
    {230400, B230400},
#endif
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool LineAttributes(const LineSettings& settings, bool hardwareFlow, struct termios* attributes,
                    const char** problem) {
    speed_t speed = B0;
    for (const auto& entry : Speeds) {
        if (entry.baud == settings.baud) speed = entry.code;
    }
    if (speed == B0) {
        *problem = "this system has no such line speed";
        return false;
    }
    if (settings.stopBits == StopBits::OneAndHalf) {
        *problem = "1.5 stop bits cannot be set here (use 1 or 2)";
        return false;
    }
    cfmakeraw(attributes);
    attributes->c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
    attributes->c_cflag &= ~tcflag_t(CMSPAR);
#endif
    static const tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    attributes->c_cflag |= Sizes[(settings.dataBits - 5) & 3] | CREAD | CLOCAL;
    switch (settings.parity) {
        case Parity::None: break;
        case Parity::Even: attributes->c_cflag |= PARENB; break;
        case Parity::Odd: attributes->c_cflag |= PARENB | PARODD; break;
#ifdef CMSPAR
        case Parity::Mark: attributes->c_cflag |= PARENB | PARODD | CMSPAR; break;
        case Parity::Space: attributes->c_cflag |= PARENB | CMSPAR; break;
#else
        default:
            *problem = "mark and space parity cannot be set here";
            return false;
#endif
    }
    if (settings.stopBits == StopBits::Two) attributes->c_cflag |= CSTOPB;
    if (hardwareFlow) attributes->c_cflag |= CRTSCTS;
    attributes->c_cc[VMIN] = 1;
    attributes->c_cc[VTIME] = 0;
    cfsetispeed(attributes, speed);
    cfsetospeed(attributes, speed);
    return true;
}

// "no permission" names who may open the device and how to join them.
static void PermissionMessage(const char* device, char* message, unsigned capacity) {
    struct stat status;
    const struct group* owner = stat(device, &status) == 0 ? getgrgid(status.st_gid) : nullptr;
    const mode_t GroupReadWrite = S_IRGRP | S_IWGRP;
    if (owner != nullptr && owner->gr_gid != 0 && (status.st_mode & GroupReadWrite) == GroupReadWrite) {
        std::snprintf(message, capacity,
                      "%s: no permission; it belongs to the group %s: run "
                      "'sudo usermod -aG %s $USER' and log in again",
                      device, owner->gr_name, owner->gr_name);
    } else {
        std::snprintf(message, capacity,
                      "%s: no permission, and only its owner may open it: ask the "
                      "administrator, or run as root",
                      device);
    }
}

int OpenLine(const char* device, const LineSettings& settings, bool hardwareFlow, char* message,
             unsigned capacity, OpenFailure* failure) {
    *failure = OpenFailure::Other;
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT || error == ENXIO || error == ENODEV) {
            *failure = OpenFailure::Missing;
            std::snprintf(message, capacity,
                          "%s: no such device; is it plugged in? ('brisvane --list' shows "
                          "the serial devices present)", device);
        } else if (error == EACCES || error == EPERM) {
            PermissionMessage(device, message, capacity);
        } else if (error == EBUSY) {
            std::snprintf(message, capacity,
                          "%s: busy: another program has it open; close that first", device);
        } else {
            std::snprintf(message, capacity, "%s: cannot open: %s", device, std::strerror(error));
        }
        return -1;
    }
    if (!isatty(fd)) {
        std::snprintf(message, capacity, "%s: not a terminal device; give a serial device "
                      "such as /dev/ttyUSB0", device);
        close(fd);
        return -1;
    }
    // The lock keeps out other programs that lock (and a second brisvane);
    // the exclusive flag keeps out the rest, root excepted.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        std::snprintf(message, capacity,
                      "%s: busy: another program (or brisvane) is using it; close that first",
                      device);
        close(fd);
        return -1;
    }
    struct termios attributes;
    const char* problem = nullptr;
    if (tcgetattr(fd, &attributes) != 0) {
        std::snprintf(message, capacity, "%s: cannot read its line settings: %s", device,
                      std::strerror(errno));
        close(fd);
        return -1;
    }
    if (!LineAttributes(settings, hardwareFlow, &attributes, &problem)) {
        std::snprintf(message, capacity, "%s: %s", device, problem);
        close(fd);
        return -1;
    }
    if (tcsetattr(fd, TCSANOW, &attributes) != 0) {
        std::snprintf(message, capacity,
                      "%s: the driver refuses these line settings (%s); try others", device,
                      std::strerror(errno));
        close(fd);
        return -1;
    }
    *failure = OpenFailure::None;
    return fd;
}

void CloseLine(int descriptor) {
    if (descriptor < 0) return;
    ioctl(descriptor, TIOCNXCL);
    close(descriptor);
}
