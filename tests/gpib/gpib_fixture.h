// A clsGPIB on the simulated bus, for the driver's tests: the simulated
// library is chosen by path, reset, and given an instrument at GPIB0 address 12.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <tessel/error.h>
#include <tessel/events.h>
#include <tessel/gpib.h>
#include <tessel/gpib_sim.h>
#include <tessel/host.h>
#include <tessel/parameter.h>

#include "support/errors.h"

namespace tessel::test {

inline constexpr int kPad = 12;

// The simulated library's call log, one call a line.
inline std::vector<std::string> CallLog() {
    std::string text(static_cast<std::size_t>(TesselGpibSimCallLog(nullptr, 0)) + 1, '\0');
    TesselGpibSimCallLog(text.data(), text.size());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

// The program messages the instrument at board 0, kPad received.
inline std::vector<std::string> Messages(int pad = kPad) {
    std::string text(static_cast<std::size_t>(TesselGpibSimMessageLog(0, pad, nullptr, 0)) + 1, '\0');
    TesselGpibSimMessageLog(0, pad, text.data(), text.size());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

inline std::shared_ptr<clsGPIB> MakePort(int pad = kPad, const char* board = "0") {
    auto port = std::make_shared<clsGPIB>();
    port->Settings()->Item("Board")->Value(-1, -1, Variant(board));
    port->Settings()->Item("Primary Address")->Value(-1, -1, Variant(static_cast<int16_t>(pad)));
    return port;
}

class GpibTest : public ::testing::Test {
protected:
    void SetUp() override {
        DefaultHostControl().Reset();
        UseGpibLibrary(GPIB_SIM_LIBRARY);
        TesselGpibSimReset();
        ASSERT_EQ(TesselGpibSimPlace(0, kPad, 0, 100), 0);
    }
    void TearDown() override {
        port.reset();
        DefaultHostControl().Reset();
        UseGpibLibrary(GPIB_SIM_LIBRARY);
    }

    std::shared_ptr<clsGPIB> port = MakePort();
};

}  // namespace tessel::test
