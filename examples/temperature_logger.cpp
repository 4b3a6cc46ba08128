// A TH-03 logger channel read once: its temperature, cycle and version.
//
//   temperature_logger [PORT [CHANNEL]]     COM2 and 3 by default
//
// Tessel's own logger library simulates loggers on COM1 and COM2.
#include <iostream>
#include <memory>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    const std::string port = argc > 1 ? argv[1] : "COM2";
    const std::string channel = argc > 2 ? argv[2] : "3";
    try {
        auto th03 = std::make_shared<tessel::clsTH03>();
        th03->Settings()->Item("Comm Port")->Value(-1, -1, port);
        th03->Settings()->Item("Channel")->Value(-1, -1, channel);
        th03->OnLine(true);
        double celsius = th03->value();
        std::cout << port << " channel " << channel << ": " << celsius << " degrees, cycle " << th03->Cycle()
                  << ", version " << th03->Version() << "\n";
        th03->OnLine(false);
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
