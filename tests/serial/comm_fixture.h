// What the clsComm tests share: a driver on a port number of its own, a
// pseudo-terminal to stand in for the instrument, and the host's run state
// and stop request reset around every test.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include <tessel/comm.h>
#include <tessel/error.h>
#include <tessel/host.h>
#include <tessel/serial_ports.h>

#include "support/errors.h"
#include "support/pty.h"

namespace tessel::test {

inline constexpr int16_t kCommPort = 7;

inline void ExpectError(const ComError& e, int32_t number, const std::string& source,
                        const std::string& description = "") {
    EXPECT_EQ(e.Number, number) << e.Description << " / " << e.Detail;
    EXPECT_EQ(e.Source, source);
    if (!description.empty()) { EXPECT_EQ(e.Description, description); }
}

inline void Set(clsComm& comm, const char* name, const Variant& value) {
    static_cast<IPortSetup&>(comm).Settings()->Item(name)->Value(-1, -1, value);
}

class CommTest : public ::testing::Test {
protected:
    CommTest() { DefaultHostControl().Reset(); }
    ~CommTest() override {
        comm.reset();
        DefaultHostControl().Reset();
        AssignSerialPort(kCommPort, "");
    }

    // Takes the driver on-line to `path` with these settings.
    void OnLine(const std::string& path, std::initializer_list<std::pair<const char*, Variant>> settings) {
        AssignSerialPort(kCommPort, path);
        Set(*comm, "Comm Port", Variant(kCommPort));
        for (const auto& [name, value] : settings) Set(*comm, name, value);
        setup().OnLine(true);
    }
    void Reopen() {
        setup().OnLine(false);
        setup().OnLine(true);
    }

    // Status, Count and Error, as a host reads them after a call.
    std::tuple<int, int, int> Words() { return {port().Status(), port().Count(), port().Error()}; }

    IPortSetup& setup() { return *comm; }
    IPort& port() { return *comm; }
    IPortB& block() { return *comm; }

    PseudoTerminal pty;
    std::shared_ptr<clsComm> comm = std::make_shared<clsComm>();
};

}  // namespace tessel::test
