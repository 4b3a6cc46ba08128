// Members by name, as a script or a command line reaches them: the classes
// and what each default interface offers, then a few calls by name.
//
//   late_bound
#include <iostream>
#include <string>
#include <vector>

#include <tessel/tessel.h>

int main() {
    for (const tessel::ClassInfo& c : tessel::ClassList()) {
        std::cout << c.progId << " {" << c.id << "}:";
        for (const tessel::MemberInfo& m : c.defaultInterface.members)
            if (m.type != tessel::CallType::Let) std::cout << " " << m.name;
        std::cout << "\n";
    }
    try {
        auto comm = tessel::CreateObject("Tessel.clsComm");
        std::vector<tessel::Variant> args = {2.5};
        tessel::CallByName(*comm, "IPort_TimeOut", tessel::CallType::Let, args);
        std::vector<tessel::Variant> none;
        float seconds = tessel::CallByName(*comm, "iport_timeout", tessel::CallType::Get, none).ToSingle();
        std::cout << "IPort_TimeOut " << seconds << "\n";

        tessel::CallByName(*comm, "IPort_SendE", tessel::CallType::Method, args);  // kept off the default interface
    } catch (const tessel::ComError& e) {
        std::cout << "error " << e.Number << ": " << e.Description << " (" << e.Detail << ")\n";
    }
}
