// A clsGPIB on the simulated bus, for the driver's tests: the simulated
// library is chosen by path, reset, and given an instrument at GPIB0 address 12.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <tessel/error.h>
#include <tessel/gpib.h>
#include <tessel/gpib_sim.h>
#include <tessel/host.h>
#include <tessel/parameter.h>

#include "support/errors.h"

namespace tessel::test {

inline constexpr int kPad = 12;

// One of the simulated library's logs, one entry a line.
inline std::vector<std::string> Lines(const std::function<long(char*, size_t)>& read) {
    std::string text(static_cast<std::size_t>(read(nullptr, 0)) + 1, '\0');
    read(text.data(), text.size());
    std::vector<std::string> lines;
    for (std::size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}
inline std::vector<std::string> CallLog() { return Lines(TesselGpibSimCallLog); }
inline std::vector<std::string> Messages(int pad = kPad) {
    return Lines([pad](char* text, size_t size) { return TesselGpibSimMessageLog(0, pad, text, size); });
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

// The same with the port on-line and the call log cleared.
class OnLineTest : public GpibTest {
    void SetUp() override {
        GpibTest::SetUp();
        port->OnLine(true);
        TesselGpibSimClearCallLog();
    }
};

}  // namespace tessel::test
