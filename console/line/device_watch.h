// Serial devices coming and going, for --auto-connect: inotify on <dev>,
// <dev>/serial and its by-id and by-path folders, one descriptor for the
// caller's poll(). Nothing here waits: the caller polls the descriptor,
// drains it, and rescans when it chooses (udev makes the links a moment
// after the node, so a caller lets a change settle before it acts on it).
#ifndef BRISVANE_CONSOLE_DEVICE_WATCH_H
#define BRISVANE_CONSOLE_DEVICE_WATCH_H

#include <string>
#include <vector>

#include "console/line/serial_devices.h"

struct DeviceChanges {
    std::vector<SerialDevice> appeared;
    std::vector<SerialDevice> went;
};

class DeviceWatch {
public:
    DeviceWatch() = default;
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;
    ~DeviceWatch() { Stop(); }

    // Starts watching and scans once. False with a one-line problem when
    // inotify cannot be had or <dev> cannot be watched.
    bool Start(const DeviceRoots& roots, char* problem, unsigned capacity);
    void Stop();
    bool Started() const { return fd_ >= 0; }
    int Descriptor() const { return fd_; }  // -1 unless started

    // Reads what waits on the descriptor; true when anything changed. A
    // serial folder made meanwhile is watched from now on.
    bool Drain();
    // Scans again: what appeared and what went since the last scan.
    DeviceChanges Rescan();
    const std::vector<SerialDevice>& Present() const { return present_; }
    DeviceRoots Roots() const { return {sysfs_.c_str(), dev_.c_str()}; }

private:
    void AddWatches();

    std::string sysfs_, dev_;
    int fd_ = -1;
    std::vector<SerialDevice> present_;
};

#endif
