// The socket host form: properties through to the control, GetData's
// optional-argument rules, and events relayed with Description and
// CancelDisplay by reference.
#include <gtest/gtest.h>

#include <tessel/error.h>
#include <tessel/events.h>

#include "loopback.h"
#include "tcpip/frmWinsock.h"

using namespace tessel;
using namespace tessel::tcpip;
using namespace tessel::test;

namespace {

class FormTest : public ::testing::Test {
protected:
    void Connect(uint16_t port) {
        form.RemoteHost(Variant("127.0.0.1"));
        form.RemotePort(Variant(static_cast<int32_t>(port)));
        form.Connect();
    }

    frmWinsock form{EventLoop::Current()};
    Listener listener;
};

}  // namespace

TEST_F(FormTest, PropertiesConvertAndGoStraightToTheControl) {
    form.RemoteHost(Variant(int16_t{42}));
    EXPECT_EQ(form.Winsock.RemoteHost(), "42");
    form.RemotePort(Variant("5025"));
    EXPECT_EQ(form.Winsock.RemotePort(), 5025);
    EXPECT_EQ(form.RemotePort(), Variant(int32_t{5025}));
    EXPECT_THROW(form.RemotePort(Variant(70000)), ComError);
    EXPECT_EQ(form.RemotePort(), Variant(int32_t{5025}));
}

TEST_F(FormTest, GetDataPassesOnlyTheArgumentsItsRulesAllow) {
    Connect(listener.Port());
    ASSERT_TRUE(PumpUntil([&] { return form.State() == kStateConnected; }));
    UniqueFd peer = listener.Accept();
    WriteAll(peer.get(), "0123456789");
    ASSERT_TRUE(PumpUntil([&] { return form.Winsock.BytesReceived() == 10; }));

    Variant data;
    form.GetData(data, Variant(int16_t{kDataBytes}), Variant(3));
    EXPECT_EQ(data, Variant::Bytes({'0', '1', '2'}));
    form.GetData(data, Variant(int16_t{kDataText}), Variant::Missing());
    EXPECT_EQ(data, Variant("3456789"));
    WriteAll(peer.get(), "abc");
    ASSERT_TRUE(PumpUntil([&] { return form.Winsock.BytesReceived() == 3; }));
    form.GetData(data, Variant::Missing(), Variant(2));
    EXPECT_EQ(data, Variant("abc")) << "a maximum without a type is ignored";

    form.Disconnect();
    EXPECT_EQ(form.State(), kStateClosed);
    EXPECT_TRUE(SeesClose(peer.get()));
}

TEST_F(FormTest, ErrorIsRelayedWithDescriptionAndCancelDisplayByReference) {
    std::vector<std::string> displayed;
    form.Winsock.Display = [&](int16_t, const std::string& description) { displayed.push_back(description); };
    int16_t number = 0;
    std::string source;
    bool cancel = true;
    form.Error = [&](int16_t Number, std::string& Description, int32_t, const std::string& Source,
                     const std::string&, int32_t, bool& CancelDisplay) {
        number = Number;
        source = Source;
        Description = "seen: " + Description;
        CancelDisplay = cancel;
    };

    Connect(UnusedPort());
    ASSERT_TRUE(PumpUntil([&] { return form.State() == kStateError; }));
    EXPECT_EQ(number, 10061);
    EXPECT_EQ(source, "Winsock");
    EXPECT_TRUE(displayed.empty()) << "the owner cancelled the display";

    cancel = false;
    form.Connect();
    ASSERT_TRUE(PumpUntil([&] { return !displayed.empty(); }));
    EXPECT_EQ(displayed.front().rfind("seen: ", 0), 0u) << displayed.front();
}
