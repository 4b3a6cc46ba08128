// The serial driver used as a class, with a port number assigned to a device.
//
//   serial_class [DEVICE]     /dev/ttyUSB0 by default
#include <iostream>
#include <memory>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    const std::string device = argc > 1 ? argv[1] : "/dev/ttyUSB0";
    try {
        tessel::AssignSerialPort(3, device);                  // COM3 is /dev/ttyUSB0, say

        auto comm = std::make_shared<tessel::clsComm>();      // or CreateObject("Tessel.clsComm")
        comm->Settings()->Item("Comm Port")->Value(-1, -1, 3);
        comm->Settings()->Item("Baud Rate")->Value(-1, -1, "19200");
        comm->OnLine(true);
        tessel::IPort& port = *comm;                          // Receive is IPort's (IPortDirect has its own)
        std::string id = port.Receive("*IDN?");
        std::cout << id << " on COM3 = " << tessel::SerialPortPath(3) << "\n";
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
