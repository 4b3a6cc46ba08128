// Creating objects by program identifier, and a driver's settings.
#include <iostream>
#include <memory>

#include <tessel/tessel.h>

namespace {

std::shared_ptr<tessel::IPort> ByProgramIdentifier() {
    std::shared_ptr<tessel::Object> obj = tessel::CreateObject("Tessel.clsComm");
    auto port = tessel::QueryInterface<tessel::IPort>(obj);
    return port;
}

void ChangeSettings(const std::shared_ptr<tessel::IPortSetup>& port) {
    auto settings = port->Settings();
    settings->Item("Baud Rate")->Value(-1, -1, "19200");
    int16_t handshake = settings->Item("Handshaking")->Value(-1, -1).ToInteger();

    std::cout << "Baud Rate " << settings->Item("Baud Rate")->Value(-1, -1).ToString() << ", Handshaking "
              << handshake << "\n";
}

}  // namespace

int main() {
    try {
        auto port = ByProgramIdentifier();
        std::cout << "Tessel.clsComm " << (port ? "implements" : "lacks") << " IPort\n";
        ChangeSettings(tessel::QueryInterface<tessel::IPortSetup>(port));
        for (const auto& id : tessel::RegisteredClasses()) std::cout << id << "\n";
    } catch (const tessel::ComError& e) {
        std::cerr << "error " << e.Number << " from " << e.Source << ": " << e.Description << "\n";
        return 1;
    }
}
