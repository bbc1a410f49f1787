#include "winlink/serial_port.h"

#include <cstddef>
#include <cstring>

#include "winlink/dcb_flags.h"
#include "winlink/device_name.h"

HANDLE SerialPort = INVALID_HANDLE_VALUE;

// The DCB's bit fields share one 32-bit word right after BaudRate.
static const size_t FlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);

int OpenSerialPort(const char* portDefinition) {
    char deviceName[260];
    if (!DeviceNameFromDefinition(portDefinition, deviceName, sizeof deviceName)) return 1;
    SerialPort = CreateFileA(deviceName, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, NULL);
    if (SerialPort == INVALID_HANDLE_VALUE) return 1;

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(SerialPort, &dcb)) return 1;
    if (!BuildCommDCBA(portDefinition, &dcb)) return 1;

    uint32_t flags;
    std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + FlagWordOffset, sizeof flags);
    flags = LineFlagWord(flags, dcb.Parity != NOPARITY);
    std::memcpy(reinterpret_cast<char*>(&dcb) + FlagWordOffset, &flags, sizeof flags);
    // A driver that refuses the settings would leave the line at ones the
    // user did not ask for: fail like any other set-up problem.
    if (!SetCommState(SerialPort, &dcb)) return 1;

    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    SetCommTimeouts(SerialPort, &timeouts);
    return 0;
}
