// An instrument on the network (a raw socket port), asked who it is.
//
//   tcp_query [HOST [PORT]]     192.168.0.20 and 5025 by default
#include <iostream>
#include <memory>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "192.168.0.20";
    const int32_t port = argc > 2 ? std::stoi(argv[2]) : 5025;
    try {
        auto eth = std::make_shared<tessel::clsEthernet>();   // or CreateObject("Tessel.clsEthernet")
        eth->Settings()->Item("Remote Host")->Value(-1, -1, host);
        eth->Settings()->Item("Remote Port")->Value(-1, -1, port);
        eth->OnLine(true);
        std::string id = eth->Receive("*IDN?");
        eth->SendE("SOUR:VOLT 1.5");        // checked: raises the instrument's errors
        eth->OnLine(false);
        std::cout << id << "\n";
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
