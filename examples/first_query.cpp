// The first query: an instrument on a serial port, asked who it is.
//
//   first_query [DEVICE]      DEVICE: the instrument's serial device, /dev/ttyUSB0 by default
#include <iostream>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    const std::string device = argc > 1 ? argv[1] : "/dev/ttyUSB0";
    try {
        auto port = tessel::CreateObject("Tessel.clsComm");
        auto setup = tessel::QueryInterface<tessel::IPortSetup>(port);
        auto io = tessel::QueryInterface<tessel::IPort>(port);

        tessel::AssignSerialPort(1, device);                          // COM1 is the adapter
        setup->Settings()->Item("Baud Rate")->Value(-1, -1, "19200");
        setup->Settings()->Item("Handshaking")->Value(-1, -1, "None");
        setup->OnLine(true);
        std::string id = io->Receive("*IDN?");                       // sends "*IDN?\r\n", waits for the reply
        std::cout << id << "\n";

        try {
            io->SendE("SOUR:VOLT 99");                                // checked: the instrument's errors become ours
        } catch (const tessel::ComError& e) {
            std::cout << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        }
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n"
                  << e.Detail << "\n";                                // what happened on this machine
        return 1;
    }
}
