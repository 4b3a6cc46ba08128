// Every transfer of a query, printed as it happens.
//
//   trace [HOST [PORT]]     127.0.0.1 and 5025 by default (tessel sim --tcp 5025)
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include <tessel/tessel.h>

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : "127.0.0.1";
    const int32_t port = argc > 2 ? std::stoi(argv[2]) : 5025;
    auto origin = std::chrono::steady_clock::now();
    tessel::SetTrace([origin](const tessel::TraceRecord& r) {
        std::cerr << tessel::TraceLine(r, origin) << "\n";   // "  0.000412 sent /dev/pts/3 \"*IDN?\r\n\""
    });
    try {
        auto eth = std::make_shared<tessel::clsEthernet>();
        eth->Settings()->Item("Remote Host")->Value(-1, -1, host);
        eth->Settings()->Item("Remote Port")->Value(-1, -1, port);
        eth->OnLine(true);
        std::cout << eth->Receive("*IDN?") << "\n";
        eth->OnLine(false);
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
    tessel::SetTrace(nullptr);                                 // off again
}
