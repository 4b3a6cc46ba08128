// A person plays the instrument: a test step shown to the operator, and a
// reading typed in. A window on the display, or the terminal without one.
//
//   operator [--terminal]
#include <iostream>
#include <memory>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--terminal") tessel::SetOperatorConsole(tessel::OperatorConsole::Terminal);
    try {
        auto gui = std::make_shared<tessel::clsGUI>();
        gui->Name("Bench 3");                             // the windows' title
        gui->Send("Connect the probe to TP4");            // OK, or Cancel raises
        std::string volts = gui->Receive("Voltage at TP4?");
        std::cout << "TP4: " << volts << " V\n";
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        if (!e.Detail.empty()) std::cerr << "  " << e.Detail << "\n";
        return 1;
    }
}
