// The serial devices present, found from sysfs and /dev, and the names a
// user may give one: a path, a by-id or by-path name, usb:VID:PID[:SERIAL]
// or the topology id (the USB port path, such as 1-1.2).
//
// Both roots are given (the program passes --sysfs-root and --dev-root), so
// a test can build a fake tree. Every symlink under the sysfs root is
// resolved against that root, never out of it; a by-id or by-path link is
// followed one level, to the node's name. A node is matched to its sysfs
// entry by name, else by device number (major:minor). Nothing here opens a
// device except to ask an on-board port with no USB behind it whether a
// UART answers (a ttyS entry exists for every possible port).
//
// Scanning allocates; it runs at start-up and when /dev changes, never per
// byte. Nothing blocks.
#ifndef BRISVANE_CONSOLE_SERIAL_DEVICES_H
#define BRISVANE_CONSOLE_SERIAL_DEVICES_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct DeviceRoots {
    const char* sysfs;  // normally /sys
    const char* dev;    // normally /dev
};

struct SerialDevice {
    std::string name;         // the kernel's name, as in <sysfs>/class/tty: ttyUSB0
    std::string path;         // the node: <dev>/ttyUSB0
    std::string byId;         // the name in <dev>/serial/by-id, or empty
    std::string byPath;       // the name in <dev>/serial/by-path, or empty
    std::string driver;       // ftdi_sio, cdc_acm...; empty when sysfs names none
    std::string vendor;       // USB idVendor, 4 hex digits; empty off USB
    std::string product;      // USB idProduct
    std::string serial;       // USB serial number, or empty
    std::string description;  // manufacturer and product strings
    // The USB port path (1-1.2), with ":N" for interface N > 0 of a
    // many-port adapter; the same for the same port of the same hub.
    std::string topology;
    unsigned major = 0, minor = 0;
    int64_t appeared = 0;  // the node's change time (ns): when it was made
};

// The devices present, in name order.
std::vector<SerialDevice> ScanSerialDevices(const DeviceRoots& roots);

// `text` with its control bytes (C0, DEL, C1) and bytes that are not
// UTF-8 shown as \x1b and the like, for a terminal or a journal. The USB
// strings read from sysfs (serial, maker, product) are kept so already.
std::string ShownDeviceText(const std::string& text);

// --list's device part: each device's path, then one labelled line per
// thing known about it (by-id, by-path, driver, usb, serial, description,
// topology). Prints "no serial devices" for none.
void PrintSerialDevices(const std::vector<SerialDevice>& devices, FILE* out);

// What a device name is.
enum class DeviceNameForm : uint8_t {
    Path,      // has a '/' (a network form too): used as it is
    Usb,       // usb:VID:PID or usb:VID:PID:SERIAL
    Topology,  // 1-1.2, 3-2:1
    Name,      // a bare word: a by-id or by-path name, or a node in <dev>
};
DeviceNameForm ClassifyDeviceName(const char* name);
// True for a usb: form that can name a device (1 to 4 hex digits each).
bool ValidUsbName(const char* name);

// The devices `name` stands for (Usb, Topology or Name): indexes into
// `devices`. A topology id without ":N" also names the other interfaces
// of that port, so a one-port adapter answers to the port alone.
std::vector<unsigned> MatchDevices(const std::vector<SerialDevice>& devices, const char* name);

enum class Resolved : uint8_t {
    Found,      // *path is the node
    Missing,    // nothing answers to the name now
    Ambiguous,  // more than one does: *problem lists them
    Invalid,    // a usb: form that cannot be one
};

// The node to open for `name`. A Path is given back as it is. A bare name
// that matches no device is taken as a path relative to here, as before
// names: Found. On the other results `problem` holds one line for the user.
Resolved ResolveDeviceName(const DeviceRoots& roots, const char* name, std::string* path, char* problem,
                           unsigned capacity);

// True when a glob in `patterns` matches the device's path, its name, its
// by-id name (bare or as a path) or its driver.
bool DeviceExcluded(const SerialDevice& device, const std::vector<std::string>& patterns);

// Identifies one appearance of a device: the same node made again (a
// replug) is another.
std::string DeviceIdentity(const SerialDevice& device);

// The device to connect to: the newest of those neither excluded nor
// passed over (identities), or -1 when there is none.
int ChooseDevice(const std::vector<SerialDevice>& devices, const std::vector<std::string>& passedOver,
                 const std::vector<std::string>& excludes);

#endif
