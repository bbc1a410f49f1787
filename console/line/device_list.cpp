#include "console/line/device_list.h"

void ListSerialDevices(const DeviceRoots& roots, const std::vector<std::string>& excludes, FILE* out) {
    std::vector<SerialDevice> devices = ScanSerialDevices(roots);
    std::vector<SerialDevice> shown;
    for (const SerialDevice& device : devices) {
        if (!DeviceExcluded(device, excludes)) shown.push_back(device);
    }
    PrintSerialDevices(shown, out);
}
