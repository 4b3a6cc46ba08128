// A clsEthernet and a loopback peer for it, for the driver's tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <tessel/error.h>
#include <tessel/ethernet.h>
#include <tessel/events.h>
#include <tessel/host.h>
#include <tessel/parameter.h>

#include "loopback.h"
#include "support/errors.h"

namespace tessel::test {

// Whether `call` raises `number` from `source`, with `description` unless that is empty.
inline ::testing::AssertionResult Raises(const std::function<void()>& call, int32_t number, const std::string& source,
                                         const std::string& description = "") {
    const ComError e = CaughtError(call);
    if (e.Number == number && e.Source == source && (description.empty() || e.Description == description))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "raised " << e.Number << " from " << e.Source << ": " << e.Description;
}

class EthernetTest : public ::testing::Test {
protected:
    void SetUp() override { DefaultHostControl().Reset(); }
    void TearDown() override {
        DefaultHostControl().Reset();
        DoEvents();
    }

    void Configure(const Variant& host, const Variant& port) {
        eth->Settings()->Item("Remote Host")->Value(-1, -1, host);
        eth->Settings()->Item("Remote Port")->Value(-1, -1, port);
    }
    void Configure(uint16_t loopbackPort) { Configure(Variant("127.0.0.1"), Variant(int32_t{loopbackPort})); }

    // On-line to `listener`, with the accepted side in `peer`.
    void GoOnLine() {
        Configure(listener.Port());
        eth->OnLine(true);
        peer = listener.Accept();
    }

    std::shared_ptr<clsEthernet> eth = std::make_shared<clsEthernet>();
    Listener listener;
    UniqueFd peer;
};

}  // namespace tessel::test
