#include "console/line/device_watch.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

const uint32_t WatchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF;

bool Contains(const std::vector<SerialDevice>& devices, const SerialDevice& device) {
    std::string identity = DeviceIdentity(device);
    return std::any_of(devices.begin(), devices.end(),
                       [&identity](const SerialDevice& d) { return DeviceIdentity(d) == identity; });
}

}  // namespace

bool DeviceWatch::Start(const DeviceRoots& roots, char* problem, unsigned capacity) {
    Stop();
    sysfs_ = roots.sysfs;
    dev_ = roots.dev;
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        std::snprintf(problem, capacity, "cannot watch for devices: %s", std::strerror(errno));
        return false;
    }
    if (inotify_add_watch(fd_, dev_.c_str(), WatchedEvents) < 0) {
        std::snprintf(problem, capacity, "cannot watch %s for devices: %s", dev_.c_str(),
                      std::strerror(errno));
        Stop();
        return false;
    }
    AddWatches();
    present_ = ScanSerialDevices(Roots());
    return true;
}

void DeviceWatch::Stop() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

// Adding a watch that exists is harmless; one on a folder not there yet
// fails, and the next change in <dev> tries again.
void DeviceWatch::AddWatches() {
    const char* const folders[] = {"", "/serial", "/serial/by-id", "/serial/by-path"};
    for (const char* folder : folders) inotify_add_watch(fd_, (dev_ + folder).c_str(), WatchedEvents);
}

bool DeviceWatch::Drain() {
    if (fd_ < 0) return false;
    alignas(struct inotify_event) char buffer[4096];
    bool changed = false;
    ssize_t got;
    while ((got = read(fd_, buffer, sizeof buffer)) > 0) changed = true;
    if (changed) AddWatches();
    return changed;
}

DeviceChanges DeviceWatch::Rescan() {
    std::vector<SerialDevice> now = ScanSerialDevices(Roots());
    // A node stays the one first seen while it is there: a later chmod
    // changes its change time, not what it is.
    for (SerialDevice& d : now) {
        for (const SerialDevice& before : present_) {
            if (before.path == d.path && before.major == d.major && before.minor == d.minor) {
                d.appeared = before.appeared;
            }
        }
    }
    DeviceChanges changes;
    for (const SerialDevice& d : now) {
        if (!Contains(present_, d)) changes.appeared.push_back(d);
    }
    for (const SerialDevice& d : present_) {
        if (!Contains(now, d)) changes.went.push_back(d);
    }
    present_.swap(now);
    return changes;
}
