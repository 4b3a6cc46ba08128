// Ports given as one string: TRANSPORT:ADDRESS[?NAME=VALUE&...].
//
//   serial:1                              "Comm Port" 1
//   serial:/dev/ttyUSB0?baud=19200        the device under a port number of its own
//   tcp:192.168.0.10:5025                 "Remote Host", "Remote Port"
//   tcp:[::1]:5025
//   gpib:0:12                             "Board" 0, "Primary Address" 12
//   gpib:0:12:96                          and "Secondary Address" 96
//
// After "?" come settings: a short name of the transport (baud, host, ...) or
// any setting's own name ("Baud Rate", "Stop%20Bits"), case ignored. Values
// are checked by the driver's settings when the port is opened.
//
// Each transport is one row of kTransports in port_string.cpp: its scheme,
// the class that serves it, how its address becomes settings, and its short
// names.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tessel::cli {

// What a port string asks for, in the order it is done.
struct PortPlan {
    std::string progId;                                        // "Tessel.clsComm"
    std::string device;                                        // serial: a device path to give a port number
    std::vector<std::pair<std::string, std::string>> settings;  // setting name, value
};

// A port string that cannot be understood; what() says why, naming the part.
class BadPortString : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Raises BadPortString.
PortPlan ParsePortString(const std::string& text);

// "serial:NUMBER or serial:DEVICE, tcp:HOST:PORT, gpib:..." for help texts.
std::string PortStringForms();

}  // namespace tessel::cli
