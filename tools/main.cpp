// tessel: the command-line host of the Tessel drivers.
#include <cstring>
#include <iostream>
#include <map>

#include "cli.h"

namespace {

const char* kUsage = R"(usage: tessel <command> [options]

  demo                        the drivers against simulated instruments
  sim [--pty] [--tcp PORT [--shared]] [--optime SECONDS] [--terminator crlf|lf]
                              serve a simulated IEEE 488.2 instrument on a
                              pseudo-terminal (the default) and/or 127.0.0.1:PORT
                              (0 picks a free port) until Ctrl+C
  ports                       list the serial ports of this machine
  settings                    list the settings of a serial port and their defaults
  online [--port N] [--device PATH] [--set "Name=Value"]...
                              bring a serial port on-line, report, go off-line;
                              --device makes port number N mean PATH
)";

}  // namespace

int main(int argc, char** argv) {
    using namespace tessel::cli;
    const std::map<std::string, int (*)(Args&)> commands = {
        {"demo", Demo}, {"sim", Sim}, {"ports", Ports}, {"settings", Settings}, {"online", Online}};
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
        std::cout << kUsage;
        return argc < 2 ? 2 : 0;
    }
    auto command = commands.find(argv[1]);
    if (command == commands.end()) {
        std::cerr << "tessel: unknown command \"" << argv[1] << "\"\n" << kUsage;
        return 2;
    }
    InstallInterruptHandler();
    Args args(argc, argv, 2);
    return Guarded([&] { return command->second(args); });
}
