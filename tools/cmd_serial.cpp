// tessel ports | settings | online
#include <iomanip>
#include <iostream>

#include "cli.h"

namespace tessel::cli {

int Ports() {
    const auto ports = ListSerialPorts();
    if (ports.empty()) {
        std::cout << "no serial ports found\n";
        return 0;
    }
    for (const auto& p : ports) {
        std::cout << std::left << std::setw(16) << p.path;
        if (p.portNumber > 0) std::cout << " COM" << p.portNumber;
        if (!p.description.empty()) std::cout << "  " << p.description;
        if (!p.driver.empty()) std::cout << "  [" << p.driver << "]";
        if (!p.usbVendorId.empty()) std::cout << "  usb " << p.usbVendorId << ":" << p.usbProductId;
        if (!p.serialNumber.empty()) std::cout << "  serial " << p.serialNumber;
        std::cout << "\n";
    }
    return 0;
}

int Settings() {
    auto comm = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
    PrintSettings(*comm->Settings());
    return 0;
}

int Online(const OnlineOptions& options) {
    auto comm = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
    auto settings = comm->Settings();
    if (options.port) settings->Item("Comm Port")->Value(-1, -1, Variant(*options.port));
    for (const auto& s : options.settings) ApplySetting(*settings, s);
    const int16_t number = settings->Item("Comm Port")->Value(-1, -1).ToInteger();
    if (!options.device.empty()) AssignSerialPort(number, options.device);

    comm->OnLine(true);
    std::cout << "COM" << number << " (" << SerialPortPath(number) << ") is on-line: ";
    const char* fields[] = {"Baud Rate", "Parity", "Data Bits", "Stop Bits"};
    for (const char* f : fields) std::cout << settings->Item(f)->Value(-1, -1).ToString() << (f == fields[3] ? "" : ",");
    std::cout << ", handshaking " << settings->Item("Handshaking")->Value(-1, -1).ToString() << "\n";
    comm->OnLine(false);
    std::cout << "COM" << number << " is off-line again\n";
    return 0;
}

}  // namespace tessel::cli
