// Serial port set-up: opens the device named by the port definition and
// configures it from the same text (speed, data bits, parity, stop bits in
// the platform's mode notation), with hardware flow control and no timeouts:
// a read completes only when its byte has arrived.
#ifndef BRISVANE_WINLINK_SERIAL_PORT_H
#define BRISVANE_WINLINK_SERIAL_PORT_H

#include <windows.h>

extern HANDLE SerialPort;  // open for overlapped one-byte reads and writes

// Returns 0 when the port is open and configured, 1 when the device cannot
// be opened or the driver refuses the settings.
int OpenSerialPort(const char* portDefinition);

#endif
