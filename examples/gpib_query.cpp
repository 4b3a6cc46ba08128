// An instrument on a GPIB bus, asked who it is and given a checked command.
// Without a system GPIB library the driver loads Tessel's simulated bus, on
// which this program first places an instrument at GPIB0, address 12; with
// a real bus, leave out that line and name your instrument's address.
#include <iostream>
#include <memory>
#include <string>

#include <tessel/gpib_sim.h>
#include <tessel/tessel.h>

int main() {
    TesselGpibSimPlace(0, 12, 0, 100);                       // the simulated instrument
    try {
        auto gpib = std::make_shared<tessel::clsGPIB>();   // or CreateObject("Tessel.clsGPIB")
        gpib->Settings()->Item("Board")->Value(-1, -1, tessel::Variant("0"));
        gpib->Settings()->Item("Primary Address")->Value(-1, -1, tessel::Variant(int16_t{12}));
        gpib->OnLine(true);
        std::string id = gpib->Receive("*IDN?");
        gpib->SendE("SOUR:VOLT 1.5");      // waits for the service request, raises the instrument's errors
        gpib->OnLine(false);
        std::cout << id << " via " << tessel::GpibLibraryInUse() << "\n";
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
