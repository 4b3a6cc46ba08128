// clsEthernet's settings, going on- and off-line, and socket errors that
// arrive while nothing waits.
#include <tuple>

#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

TEST_F(EthernetTest, ANewDriverHasItsSettingsAndDefaults) {
    auto root = eth->Settings();
    EXPECT_EQ(root, eth->Settings()) << "the root itself, not a copy";
    EXPECT_EQ(root->Name(), "TCP/IP");
    ASSERT_EQ(root->Children().size(), 2u);
    const Parameter &host = *root->Children()[0], &port = *root->Children()[1];
    EXPECT_EQ(std::tuple(host.Name(), host.Kind(), host.StoredValue()),
              std::tuple("Remote Host", kParameterText, Variant("192.168.0.1")));
    EXPECT_EQ(std::tuple(port.Name(), port.Kind(), port.Allowed(), port.StoredValue()),
              std::tuple("Remote Port", kParameterRange, "0<1>2147483647", Variant(int16_t{1000})));
    EXPECT_EQ(eth->TimeOut(), 1.0f);
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Closed");
}

TEST_F(EthernetTest, OnLineAndOffLineThroughARefusalASecondOnLineAndAnErrorWhileNothingWaits) {
    Configure(UnusedPort());
    // Not the 5-second time-out.
    EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, kSocketConnectionRefused, "Winsock"));
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Error");
    GoOnLine();  // the failed attempt is no obstacle to the next
    EXPECT_EQ(eth->StateString(), "Connected");
    EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, kSocketWrongState, "Winsock"));
    EXPECT_TRUE(eth->OnLine());
    eth->OnLine(false);
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Closed");
    EXPECT_TRUE(SeesClose(peer.get()));
    eth->OnLine(false);  // already off-line: nothing raised
    GoOnLine();
    Reset(peer);
    ASSERT_TRUE(PumpUntil([&] { return eth->StateString() == "Error"; }));  // now recorded
    eth->OnLine(false);  // a fresh guarded call drops it, never to be reported later
    EXPECT_EQ(eth->StateString(), "Closed");
    GoOnLine();
    eth.reset();
    EXPECT_TRUE(SeesClose(peer.get())) << "releasing the driver closes";
}

TEST_F(EthernetTest, AHostThatNeitherAnswersNorRefusesTimesOutAfterFiveSeconds) {
    Listener full(0);
    UniqueFd filler = ConnectTo(full.Port());  // takes the only place in its queue
    Configure(full.Port());
    eth->TimeOut(1.0f);  // not the on-line wait's limit
    EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, kTimedOut, "clsEthernet.IPortSetup_OnLine",
                       "Go on-line timed out after 5 seconds"));
    EXPECT_EQ(eth->StateString(), "Closed");
}

TEST_F(EthernetTest, SettingsAreReadAtOnLineAndTheirFailuresNameTheMember) {
    GoOnLine();
    Configure(Variant("127.0.0.1"), Variant("not a port"));
    EXPECT_TRUE(eth->OnLine()) << "a change takes effect at the next on-line";
    eth->OnLine(false);
    EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, kErrTypeMismatch, "clsEthernet.IPortSetup_Online"));
    Configure(Variant("127.0.0.1"), Variant(70000));
    EXPECT_TRUE(Raises([&] { eth->OnLine(true); }, kSocketInvalidArgument, "Winsock"));
}
