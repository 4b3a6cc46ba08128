// tessel ports | settings | online
#include <iomanip>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli.h"

namespace tessel::cli {

Run AddPorts(CLI::App&) {
    return [] {
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
    };
}

Run AddSettings(CLI::App&) {
    return [] {
        auto comm = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
        PrintSettings(*comm->Settings());
        return 0;
    };
}

Run AddOnline(CLI::App& command) {
    struct Options {
        int16_t port = 0;
        std::string device;
        std::vector<std::string> settings;
    };
    auto o = std::make_shared<Options>();
    CLI::Option* port = command.add_option("--port", o->port, "port number (\"Comm Port\"); default the setting's")
                            ->check(CLI::Range(int16_t{1}, int16_t{32767}));
    command.add_option("--device", o->device, "make the port number mean this device, e.g. /dev/ttyUSB0");
    command.add_option("--set", o->settings, "a setting, e.g. --set \"Baud Rate=19200\"; repeatable")
        ->type_name("\"NAME=VALUE\"")
        ->check(CLI::Validator(
            [](const std::string& s) { return s.find('=') == std::string::npos ? "takes NAME=VALUE, not " + s : ""; },
            "NAME=VALUE"));
    return [o, port] {
        auto comm = QueryInterface<IPortSetup>(CreateObject("Tessel.clsComm"));
        auto settings = comm->Settings();
        if (port->count() > 0) settings->Item("Comm Port")->Value(-1, -1, Variant(o->port));
        for (const auto& s : o->settings) ApplySetting(*settings, s);
        const int16_t number = settings->Item("Comm Port")->Value(-1, -1).ToInteger();
        if (!o->device.empty()) AssignSerialPort(number, o->device);

        comm->OnLine(true);
        std::cout << "COM" << number << " (" << SerialPortPath(number) << ") is on-line: ";
        const char* fields[] = {"Baud Rate", "Parity", "Data Bits", "Stop Bits"};
        for (const char* f : fields)
            std::cout << settings->Item(f)->Value(-1, -1).ToString() << (f == fields[3] ? "" : ",");
        std::cout << ", handshaking " << settings->Item("Handshaking")->Value(-1, -1).ToString() << "\n";
        comm->OnLine(false);
        std::cout << "COM" << number << " is off-line again\n";
        return 0;
    };
}

}  // namespace tessel::cli
