#include "console/line/serial_devices.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

const int MaxLinks = 40;  // as the kernel allows in one lookup

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) slash = path.size();
        if (slash > start) parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string Join(const std::string& root, const std::vector<std::string>& parts, size_t count) {
    std::string path = root;
    for (size_t i = 0; i < count && i < parts.size(); ++i) path += "/" + parts[i];
    return path;
}

bool ReadLink(const std::string& path, std::string* target) {
    char buffer[PATH_MAX];
    ssize_t length = readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (length <= 0) return false;
    target->assign(buffer, size_t(length));
    return true;
}

// `relative` (inside the root) with every link followed as if the root were
// "/": ".." stops at the root and an absolute target starts from it. The
// components of the result are in *parts; false when something is missing
// or links loop.
bool ResolveInRoot(const std::string& root, const std::string& relative, std::vector<std::string>* parts) {
    std::vector<std::string> todo = Split(relative);
    std::reverse(todo.begin(), todo.end());  // a stack: the next component last
    parts->clear();
    int links = 0;
    while (!todo.empty()) {
        std::string part = todo.back();
        todo.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            if (!parts->empty()) parts->pop_back();
            continue;
        }
        parts->push_back(part);
        std::string full = Join(root, *parts, parts->size());
        struct stat status;
        if (lstat(full.c_str(), &status) != 0) return false;
        if (!S_ISLNK(status.st_mode)) continue;
        std::string target;
        if (++links > MaxLinks || !ReadLink(full, &target)) return false;
        parts->pop_back();
        if (target[0] == '/') parts->clear();
        std::vector<std::string> more = Split(target);
        for (size_t i = more.size(); i > 0; --i) todo.push_back(more[i - 1]);
    }
    return true;
}

// The length of the UTF-8 sequence at `at` that is printable (not a C1
// control), or 0.
size_t PrintableUtf8(const std::string& text, size_t at) {
    uint8_t first = uint8_t(text[at]);
    size_t length = first >= 0xF0 && first <= 0xF4  ? 4
                    : first >= 0xE0                 ? 3
                    : first >= 0xC2 && first < 0xE0 ? 2
                                                    : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((uint8_t(text[at + i]) & 0xC0) != 0x80) return 0;
    }
    if (first == 0xC2 && uint8_t(text[at + 1]) < 0xA0) return 0;  // U+0080..U+009F
    return length;
}

// The first line of a small sysfs file, without its line end, its control
// bytes escaped: a USB device's strings are the device's to choose.
std::string ReadValue(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::string();
    char buffer[256];
    ssize_t length = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (length <= 0) return std::string();
    std::string value(buffer, size_t(length));
    size_t end = value.find('\n');
    if (end != std::string::npos) value.resize(end);
    return ShownDeviceText(value);
}

bool Exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A ttyS entry exists for every possible port; only one with a UART answers.
bool Answers(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct termios attributes;
    bool answers = tcgetattr(fd, &attributes) == 0;
    close(fd);
    return answers;
}

// What the USB ancestors of the entry at `parts` say: the device folder is
// the nearest with idVendor; the folder below it is the interface.
void ReadUsb(const std::string& root, const std::vector<std::string>& parts, SerialDevice* device) {
    for (size_t depth = parts.size(); depth > 0; --depth) {
        std::string folder = Join(root, parts, depth);
        std::string vendor = ReadValue(folder + "/idVendor");
        if (vendor.empty()) continue;
        device->vendor = vendor;
        device->product = ReadValue(folder + "/idProduct");
        device->serial = ReadValue(folder + "/serial");
        std::string maker = ReadValue(folder + "/manufacturer");
        std::string product = ReadValue(folder + "/product");
        // A product string often starts with its maker's name already.
        if (!maker.empty() && product.compare(0, maker.size(), maker) != 0) {
            device->description = product.empty() ? maker : maker + " " + product;
        } else {
            device->description = product;
        }
        device->topology = parts[depth - 1];
        if (depth < parts.size()) {
            std::string number = ReadValue(Join(root, parts, depth + 1) + "/bInterfaceNumber");
            unsigned long interface = std::strtoul(number.c_str(), nullptr, 16);
            if (interface > 0) device->topology += ":" + std::to_string(interface);
        }
        return;
    }
}

// The node for an entry whose <dev>/<name> is missing: the device file with
// its number, looked for in <dev> itself.
std::string FindNodeByNumber(const std::string& dev, unsigned major, unsigned minor) {
    std::string found;
    DIR* folder = opendir(dev.c_str());
    if (folder == nullptr) return found;
    while (struct dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        std::string path = dev + "/" + entry->d_name;
        struct stat status;
        if (stat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode) && ::major(status.st_rdev) == major &&
            ::minor(status.st_rdev) == minor) {
            found = path;
            break;
        }
    }
    closedir(folder);
    return found;
}

std::vector<std::string> SortedNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (d == nullptr) return names;
    while (struct dirent* entry = readdir(d)) {
        if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// Gives each device its name in <dev>/serial/<kind> (by-id, by-path): the
// link's target is read one level, to a node's name, else its number.
void ReadLinks(const std::string& dev, const char* kind, std::vector<SerialDevice>* devices,
               std::string SerialDevice::*field) {
    std::string folder = dev + "/serial/" + kind;
    for (const std::string& link : SortedNames(folder)) {
        std::string target;
        if (!ReadLink(folder + "/" + link, &target)) continue;
        std::string node = BaseName(target);
        struct stat status;
        bool numbered = stat((folder + "/" + link).c_str(), &status) == 0 && S_ISCHR(status.st_mode);
        for (SerialDevice& device : *devices) {
            bool same =
                BaseName(device.path) == node || (numbered && ::major(status.st_rdev) == device.major &&
                                                  ::minor(status.st_rdev) == device.minor);
            if (same && (device.*field).empty()) {
                device.*field = link;
                break;
            }
        }
    }
}

bool IsHex(const std::string& text) {
    if (text.empty() || text.size() > 4) return false;
    for (char c : text) {
        if (!std::isxdigit((unsigned char)c)) return false;
    }
    return true;
}

// "1-1.2" or "1-1.2:1": bus, dash, ports joined by dots, an interface.
bool IsTopology(const char* text) {
    const char* p = text;
    auto digits = [&p]() {
        const char* start = p;
        while (*p >= '0' && *p <= '9') ++p;
        return p > start;
    };
    if (!digits() || *p++ != '-' || !digits()) return false;
    while (*p == '.') {
        ++p;
        if (!digits()) return false;
    }
    if (*p == ':') {
        ++p;
        if (!digits()) return false;
    }
    return *p == '\0';
}

bool SameHex(const std::string& a, const std::string& b) {
    return !a.empty() && std::strtoul(a.c_str(), nullptr, 16) == std::strtoul(b.c_str(), nullptr, 16) &&
           IsHex(b);
}

bool MatchesUsb(const SerialDevice& device, const char* name) {
    std::vector<std::string> fields;
    std::string rest = name + 4;  // past "usb:"
    size_t start = 0;
    for (int i = 0; i < 2; ++i) {
        size_t colon = rest.find(':', start);
        fields.push_back(rest.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        start = colon == std::string::npos ? rest.size() + 1 : colon + 1;
    }
    if (start <= rest.size()) fields.push_back(rest.substr(start));  // the serial, colons and all
    if (!SameHex(device.vendor, fields[0]) || !SameHex(device.product, fields[1])) return false;
    return fields.size() < 3 || fields[2] == device.serial;
}

bool MatchesTopology(const SerialDevice& device, const char* name) {
    if (device.topology == name) return true;
    size_t length = std::strlen(name);
    return std::strchr(name, ':') == nullptr && device.topology.compare(0, length, name) == 0 &&
           device.topology.size() > length && device.topology[length] == ':';
}

}  // namespace

std::vector<SerialDevice> ScanSerialDevices(const DeviceRoots& roots) {
    std::vector<SerialDevice> devices;
    std::string sysfs = roots.sysfs, dev = roots.dev;
    for (const std::string& name : SortedNames(sysfs + "/class/tty")) {
        std::vector<std::string> parts;
        if (!ResolveInRoot(sysfs, "class/tty/" + name, &parts)) continue;
        std::vector<std::string> owner;
        // Consoles and pseudo-terminals have no device behind them.
        if (!ResolveInRoot(sysfs, "class/tty/" + name + "/device", &owner)) continue;
        SerialDevice device;
        device.name = name;
        std::string number = ReadValue(Join(sysfs, parts, parts.size()) + "/dev");
        if (std::sscanf(number.c_str(), "%u:%u", &device.major, &device.minor) != 2) continue;
        std::string driver;
        if (ReadLink(Join(sysfs, owner, owner.size()) + "/driver", &driver)) device.driver = BaseName(driver);
        ReadUsb(sysfs, parts, &device);
        device.path = dev + "/" + name;
        if (!Exists(device.path)) device.path = FindNodeByNumber(dev, device.major, device.minor);
        if (device.path.empty()) continue;
        if (device.vendor.empty() && name.compare(0, 4, "ttyS") == 0 && !Answers(device.path.c_str()))
            continue;
        struct stat status;
        if (lstat(device.path.c_str(), &status) == 0) {
            device.appeared = int64_t(status.st_ctim.tv_sec) * 1000000000 + status.st_ctim.tv_nsec;
        }
        devices.push_back(device);
    }
    ReadLinks(dev, "by-id", &devices, &SerialDevice::byId);
    ReadLinks(dev, "by-path", &devices, &SerialDevice::byPath);
    return devices;
}

std::string ShownDeviceText(const std::string& text) {
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        uint8_t byte = uint8_t(text[at]);
        size_t length = byte >= 0x20 && byte < 0x7F ? 1 : byte >= 0x80 ? PrintableUtf8(text, at) : 0;
        if (length > 0) {
            shown.append(text, at, length);
            at += length;
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        shown += escaped;
        ++at;
    }
    return shown;
}

void PrintSerialDevices(const std::vector<SerialDevice>& devices, FILE* out) {
    if (devices.empty()) std::fprintf(out, "no serial devices\n");
    for (const SerialDevice& d : devices) {
        std::fprintf(out, "%s\n", ShownDeviceText(d.path).c_str());
        const struct {
            const char* label;
            std::string value;
        } rows[] = {
            {"by-id", d.byId},        {"by-path", d.byPath},
            {"driver", d.driver},     {"usb", d.vendor.empty() ? std::string() : d.vendor + ":" + d.product},
            {"serial", d.serial},     {"description", d.description},
            {"topology", d.topology},
        };
        for (const auto& row : rows) {
            if (!row.value.empty())
                std::fprintf(out, "  %-12s %s\n", row.label, ShownDeviceText(row.value).c_str());
        }
    }
}

bool ValidUsbName(const char* name) {
    std::string rest = name + 4;
    size_t first = rest.find(':');
    if (first == std::string::npos) return false;
    size_t second = rest.find(':', first + 1);
    std::string product =
        rest.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    return IsHex(rest.substr(0, first)) && IsHex(product) &&
           (second == std::string::npos || second + 1 < rest.size());
}

DeviceNameForm ClassifyDeviceName(const char* name) {
    if (std::strchr(name, '/') != nullptr) return DeviceNameForm::Path;
    if (strncasecmp(name, "usb:", 4) == 0) return DeviceNameForm::Usb;
    if (IsTopology(name)) return DeviceNameForm::Topology;
    return DeviceNameForm::Name;
}

std::vector<unsigned> MatchDevices(const std::vector<SerialDevice>& devices, const char* name) {
    std::vector<unsigned> found;
    DeviceNameForm form = ClassifyDeviceName(name);
    for (unsigned i = 0; i < devices.size(); ++i) {
        const SerialDevice& d = devices[i];
        bool match = false;
        switch (form) {
            case DeviceNameForm::Path: match = d.path == name; break;
            case DeviceNameForm::Usb: match = !d.vendor.empty() && MatchesUsb(d, name); break;
            case DeviceNameForm::Topology: match = !d.topology.empty() && MatchesTopology(d, name); break;
            case DeviceNameForm::Name: match = d.byId == name || d.byPath == name || d.name == name; break;
        }
        if (match) found.push_back(i);
    }
    return found;
}

Resolved ResolveDeviceName(const DeviceRoots& roots, const char* name, std::string* path, char* problem,
                           unsigned capacity) {
    DeviceNameForm form = ClassifyDeviceName(name);
    if (form == DeviceNameForm::Path) {
        *path = name;
        return Resolved::Found;
    }
    if (form == DeviceNameForm::Usb && !ValidUsbName(name)) {
        std::snprintf(problem, capacity, "%s: a USB device is named usb:VID:PID or usb:VID:PID:SERIAL (hex)",
                      name);
        return Resolved::Invalid;
    }
    std::vector<SerialDevice> devices = ScanSerialDevices(roots);
    std::vector<unsigned> found = MatchDevices(devices, name);
    if (found.size() == 1) {
        *path = devices[found[0]].path;
        return Resolved::Found;
    }
    if (found.size() > 1) {
        int used = std::snprintf(problem, capacity, "%s names %u devices:", name, unsigned(found.size()));
        for (unsigned i = 0; i < found.size() && used >= 0 && unsigned(used) < capacity; ++i) {
            const SerialDevice& d = devices[found[i]];
            used += std::snprintf(problem + used, capacity - unsigned(used), "%s %s (%s%s%s)",
                                  i > 0 ? "," : "", ShownDeviceText(d.path).c_str(),
                                  d.topology.empty() ? "no topology" : d.topology.c_str(),
                                  d.serial.empty() ? "" : ", serial ", d.serial.c_str());
        }
        if (used >= 0 && unsigned(used) < capacity) {
            std::snprintf(problem + used, capacity - unsigned(used), "; give one of those or its topology");
        }
        return Resolved::Ambiguous;
    }
    if (form == DeviceNameForm::Name) {  // a file here, as a name always was
        *path = name;
        return Resolved::Found;
    }
    std::snprintf(problem, capacity, "%s: no such device present (brisvane --list shows them)", name);
    return Resolved::Missing;
}

bool DeviceExcluded(const SerialDevice& device, const std::vector<std::string>& patterns) {
    const std::string* names[] = {&device.path, &device.name, &device.byId, &device.driver};
    for (const std::string& pattern : patterns) {
        for (const std::string* name : names) {
            if (!name->empty() && fnmatch(pattern.c_str(), name->c_str(), 0) == 0) return true;
        }
        // A pattern for the full by-id path, whatever the dev root.
        if (!device.byId.empty() && pattern.find("/serial/by-id/") != std::string::npos &&
            fnmatch(BaseName(pattern).c_str(), device.byId.c_str(), 0) == 0) {
            return true;
        }
    }
    return false;
}

std::string DeviceIdentity(const SerialDevice& device) {
    return device.path + "@" + std::to_string(device.major) + ":" + std::to_string(device.minor) + "@" +
           std::to_string(device.appeared);
}

int ChooseDevice(const std::vector<SerialDevice>& devices, const std::vector<std::string>& passedOver,
                 const std::vector<std::string>& excludes) {
    int chosen = -1;
    for (unsigned i = 0; i < devices.size(); ++i) {
        const SerialDevice& d = devices[i];
        if (DeviceExcluded(d, excludes)) continue;
        if (std::find(passedOver.begin(), passedOver.end(), DeviceIdentity(d)) != passedOver.end()) continue;
        if (chosen < 0 || d.appeared >= devices[unsigned(chosen)].appeared) chosen = int(i);
    }
    return chosen;
}
