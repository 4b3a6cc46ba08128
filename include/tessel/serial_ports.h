// Serial ports of this machine, and which device a port number means.
//
// A serial driver is configured with a port number ("Comm Port" 1, 2, ...).
// Port number n means /dev/ttyS<n-1> unless the host assigns another device
// to that number, for example a USB adapter or a pseudo-terminal
// (examples/serial_class.cpp):
//
//   tessel::AssignSerialPort(3, device);                  // COM3 is /dev/ttyUSB0, say
//
// Threads: assignments are process-wide and may be made from any thread; a
// driver reads the assignment when it opens its port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <tessel/export.h>

namespace tessel {

struct TESSEL_API SerialPortInfo {
    std::string path;          // "/dev/ttyUSB0"
    std::string description;   // what udev says it is, e.g. "FT232R USB UART"
    std::string driver;        // kernel driver, e.g. "ftdi_sio", "serial8250"
    std::string usbVendorId;   // four hex digits, empty when not on USB
    std::string usbProductId;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    int16_t portNumber = 0;    // the number that means this device, 0 when none
};

// Serial devices present now (UARTs that exist, USB and other adapters),
// sorted by path with numbers in numeric order (ttyS2 before ttyS10).
// Pseudo-terminals are not listed. Raises ComError 8021 when udev cannot be
// read.
TESSEL_API std::vector<SerialPortInfo> ListSerialPorts();

// Makes port number `number` (1 to 32767) mean `path`; an empty path restores
// /dev/ttyS<number-1>. Raises 8002 "Invalid Port Number" for numbers below 1.
TESSEL_API void AssignSerialPort(int16_t number, const std::string& path);

// The device that port number `number` means now. Raises 8002 for numbers
// below 1.
TESSEL_API std::string SerialPortPath(int16_t number);

// The smallest port number that means the device at `path` now (symbolic
// links such as /dev/serial/by-id/... count as the device they point to), 0
// when none does.
TESSEL_API int16_t SerialPortNumber(const std::string& path);

}  // namespace tessel
