#include "console/line/local_line.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include "console/line/line_speed.h"

namespace {

const struct {
    unsigned long baud;
    speed_t code;
} Speeds[] = {
    {50, B50},           {75, B75},     {110, B110},   {134, B134},     {150, B150},
    {200, B200},         {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
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

speed_t SpeedCode(uint32_t baud) {
    for (const auto& entry : Speeds) {
        if (entry.baud == baud) return entry.code;
    }
    return B0;
}

// "no permission" names who may open the device and how to join them.
void PermissionMessage(const char* device, char* message, unsigned capacity) {
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

// What of `wanted` the line does not have now, or null when it has it all.
// `customBaud` is the speed set through termios2 (0: the table's).
const char* NotTaken(int fd, const struct termios& wanted, uint32_t customBaud) {
    struct termios now;
    if (tcgetattr(fd, &now) != 0) return "its own settings back";
    tcflag_t differ = (now.c_cflag ^ wanted.c_cflag);
    if (differ & CSIZE) return "this number of data bits";
#ifdef CMSPAR
    if (differ & (PARENB | PARODD | CMSPAR)) return "this parity";
#else
    if (differ & (PARENB | PARODD)) return "this parity";
#endif
    if (differ & CSTOPB) return "this number of stop bits";
    if (differ & CRTSCTS) return "RTS/CTS flow control";
    if (customBaud != 0 ? ReadLineSpeed(fd) == 0 : cfgetospeed(&now) != cfgetospeed(&wanted)) {
        return "this speed";
    }
    return nullptr;
}

bool Unsupported(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS; }

ControlResult ControlError() {
    return Unsupported(errno) ? ControlResult::Unsupported : ControlResult::Refused;
}

}  // namespace

bool LineAttributes(const LineSettings& settings, bool hardwareFlow, struct termios* attributes,
                    bool* customSpeed, const char** problem) {
    speed_t speed = SpeedCode(settings.baud);
    *customSpeed = false;
    if (speed == B0) {
        if (!CustomSpeedsSupported()) {
            *problem = "this system has no such line speed";
            return false;
        }
        *customSpeed = true;
        speed = B38400;  // stands in until termios2 sets the real speed
    }
    if (settings.stopBits == StopBits::OneAndHalf) {
        *problem = "1.5 stop bits cannot be set here (use 1 or 2)";
        return false;
    }
    cfmakeraw(attributes);
    // Whatever the last program left: no software flow control of our own,
    // so the driver never sends or obeys bare XON/XOFF bytes.
    attributes->c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
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
        default: *problem = "mark and space parity cannot be set here"; return false;
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

LocalLine::LocalLine(const char* device, const char* lockFolder) {
    std::snprintf(device_, sizeof device_, "%s", device);
    std::snprintf(lockFolder_, sizeof lockFolder_, "%s", lockFolder);
}

void LocalLine::Abandon() {
    if (fd_ >= 0) {
        if (exclusive_) ioctl(fd_, TIOCNXCL);
        close(fd_);
    }
    fd_ = -1;
    exclusive_ = false;
    ReleaseUucpLock(&lock_);
}

void LocalLine::Close() { Abandon(); }

OpenResult LocalLine::Open(const LineControls& controls, char* message, unsigned capacity) {
    Abandon();
    pid_t holder = 0;
    if (TakeUucpLock(lockFolder_, device_, &lock_, &holder) == LockResult::Busy) {
        std::snprintf(message, capacity,
                      "%s: busy: another program (process %d) is using it; close that first", device_,
                      int(holder));
        return OpenResult::Failed;
    }
    fd_ = open(device_, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        int error = errno;
        OpenResult result = OpenResult::Failed;
        if (error == ENOENT || error == ENXIO || error == ENODEV) {
            result = OpenResult::Missing;
            std::snprintf(message, capacity,
                          "%s: no such device; is it plugged in? ('brisvane --list' shows "
                          "the serial devices present)",
                          device_);
        } else if (error == EACCES || error == EPERM) {
            PermissionMessage(device_, message, capacity);
        } else if (error == EBUSY) {
            std::snprintf(message, capacity, "%s: busy: another program has it open; close that first",
                          device_);
        } else {
            std::snprintf(message, capacity, "%s: cannot open: %s", device_, std::strerror(error));
        }
        Abandon();
        return result;
    }
    if (!isatty(fd_)) {
        std::snprintf(message, capacity,
                      "%s: not a terminal device; give a serial device "
                      "such as /dev/ttyUSB0",
                      device_);
        Abandon();
        return OpenResult::Failed;
    }
    // The advisory lock keeps out programs that lock (and a second copy of
    // this one); the exclusive flag keeps out the rest, root excepted.
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0 || ioctl(fd_, TIOCEXCL) != 0) {
        std::snprintf(message, capacity,
                      "%s: busy: another program (or brisvane) is using it; close that first", device_);
        Abandon();
        return OpenResult::Failed;
    }
    exclusive_ = true;
    char problem[256];
    if (!Configure(controls, problem, sizeof problem)) {
        std::snprintf(message, capacity, "%s: %s; try other settings", device_, problem);
        Abandon();
        return OpenResult::Failed;
    }
    if (controls.dtr != -1) SetModemOutput(ModemOutput::Dtr, controls.dtr == 1);
    if (controls.rts != -1 && !controls.hardwareFlow) SetModemOutput(ModemOutput::Rts, controls.rts == 1);
    return OpenResult::Open;
}

bool LocalLine::Configure(const LineControls& controls, char* problem, unsigned capacity) {
    struct termios attributes;
    if (tcgetattr(fd_, &attributes) != 0) {
        std::snprintf(problem, capacity, "cannot read its line settings: %s", std::strerror(errno));
        return false;
    }
    bool customSpeed = false;
    const char* fault = nullptr;
    if (!LineAttributes(controls.settings, controls.hardwareFlow, &attributes, &customSpeed, &fault)) {
        std::snprintf(problem, capacity, "%s", fault);
        return false;
    }
    int error = tcsetattr(fd_, TCSANOW, &attributes) == 0 ? 0 : errno;
    if (error == 0 && customSpeed) error = SetCustomSpeed(fd_, controls.settings.baud);
    if (error != 0) {
        std::snprintf(problem, capacity, "the driver refuses these line settings (%s)", std::strerror(error));
        return false;
    }
    // tcsetattr succeeds when the driver took any of it: check it took all.
    const char* missing = NotTaken(fd_, attributes, customSpeed ? controls.settings.baud : 0);
    if (missing != nullptr) {
        std::snprintf(problem, capacity, "the driver does not take %s here", missing);
        return false;
    }
    return true;
}

short LocalLine::PollEvents(bool haveOutput) const { return short(POLLIN | (haveOutput ? POLLOUT : 0)); }

IoResult LocalLine::Read(uint8_t* data, unsigned capacity, unsigned* count) {
    *count = 0;
    ssize_t n = read(fd_, data, capacity);
    if (n > 0) {
        *count = unsigned(n);
        return IoResult::Done;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return IoResult::WouldBlock;
    return IoResult::Lost;  // end of file or EIO: the device went away
}

IoResult LocalLine::Write(const uint8_t* data, unsigned length, unsigned* count) {
    *count = 0;
    ssize_t n = write(fd_, data, length);
    if (n >= 0) {
        *count = unsigned(n);
        return IoResult::Done;
    }
    if (errno == EAGAIN || errno == EINTR) return IoResult::WouldBlock;
    return IoResult::Lost;
}

ControlResult LocalLine::Apply(const LineControls& controls, char* problem, unsigned capacity) {
    struct termios before;
    if (fd_ < 0 || tcgetattr(fd_, &before) != 0) {
        std::snprintf(problem, capacity, "the line is not open");
        return ControlResult::Refused;
    }
    uint32_t speedBefore = ReadLineSpeed(fd_);
    if (Configure(controls, problem, capacity)) return ControlResult::Done;
    // What the driver took of a refused set is undone: the old settings stay.
    int error = tcsetattr(fd_, TCSANOW, &before) == 0 ? 0 : errno;
    if (error == 0 && speedBefore != 0 && SpeedCode(speedBefore) == B0)
        error = SetCustomSpeed(fd_, speedBefore);
    if (error == 0) return ControlResult::Refused;
    size_t used = std::strlen(problem);
    if (used < capacity) {
        std::snprintf(problem + used, capacity - used, "; putting the old settings back failed too (%s)",
                      std::strerror(error));
    }
    return ControlResult::Unsettled;
}

ControlResult LocalLine::SetBreak(bool on) {
    // Set and cleared by the loop's clock, so the loop never waits out a BREAK.
    if (ioctl(fd_, on ? TIOCSBRK : TIOCCBRK) == 0) return ControlResult::Done;
    return ControlError();
}

ControlResult LocalLine::SetModemOutput(ModemOutput which, bool on) {
    int bits = which == ModemOutput::Dtr ? TIOCM_DTR : TIOCM_RTS;
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bits) == 0) return ControlResult::Done;
    return ControlError();
}

ControlResult LocalLine::ReadModemLines(ModemLines* lines) {
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return ControlError();
    lines->cts = (bits & TIOCM_CTS) != 0;
    lines->dsr = (bits & TIOCM_DSR) != 0;
    lines->dcd = (bits & TIOCM_CD) != 0;
    lines->ri = (bits & TIOCM_RI) != 0;
    lines->dtr = (bits & TIOCM_DTR) != 0;
    lines->rts = (bits & TIOCM_RTS) != 0;
    return ControlResult::Done;
}

ControlResult LocalLine::ReadErrorCounts(LineErrorCounts* counts) {
#ifdef TIOCGICOUNT
    struct serial_icounter_struct icount;
    std::memset(&icount, 0, sizeof icount);
    if (ioctl(fd_, TIOCGICOUNT, &icount) != 0) return ControlResult::Unsupported;  // a pty has none
    counts->framing = uint32_t(icount.frame);
    counts->parity = uint32_t(icount.parity);
    counts->overrun = uint32_t(icount.overrun + icount.buf_overrun);
    counts->breaks = uint32_t(icount.brk);
    return ControlResult::Done;
#else
    (void)counts;
    return ControlResult::Unsupported;
#endif
}
