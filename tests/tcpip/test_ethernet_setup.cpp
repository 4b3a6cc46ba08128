// clsEthernet's settings, going on- and off-line, and socket errors that
// arrive while nothing waits.
#include "ethernet_fixture.h"

using namespace tessel;
using namespace tessel::test;

TEST_F(EthernetTest, ANewDriverHasItsSettingsAndDefaults) {
    auto root = eth->Settings();
    EXPECT_EQ(root, eth->Settings()) << "the root itself, not a copy";
    EXPECT_EQ(root->Name(), "TCP/IP");
    ASSERT_EQ(root->Children().size(), 2u);
    const auto& host = root->Children()[0];
    const auto& port = root->Children()[1];
    EXPECT_EQ(host->Name(), "Remote Host");
    EXPECT_EQ(host->Kind(), kParameterText);
    EXPECT_EQ(host->StoredValue(), Variant("192.168.0.1"));
    EXPECT_EQ(port->Name(), "Remote Port");
    EXPECT_EQ(port->Kind(), kParameterRange);
    EXPECT_EQ(port->Allowed(), "0<1>2147483647");
    EXPECT_EQ(port->StoredValue(), Variant(int16_t{1000}));
    EXPECT_EQ(eth->TimeOut(), 1.0f);
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Closed");
}

TEST_F(EthernetTest, OnLineConnectsOffLineClosesAndASecondOnLineIsRefused) {
    GoOnLine();
    EXPECT_TRUE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Connected");
    const ComError twice = CaughtError([&] { eth->OnLine(true); });
    EXPECT_EQ(twice.Number, kSocketWrongState);
    EXPECT_EQ(twice.Source, "Winsock");
    EXPECT_TRUE(eth->OnLine());

    eth->OnLine(false);
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Closed");
    EXPECT_TRUE(SeesClose(peer.get()));
    eth->OnLine(false);  // already off-line: nothing raised
}

TEST_F(EthernetTest, ARefusedConnectionFailsAtOnceWithTheSocketsError) {
    Configure(Variant("127.0.0.1"), Variant(static_cast<int32_t>(UnusedPort())));
    const ComError e = CaughtError([&] { eth->OnLine(true); });
    EXPECT_EQ(e.Number, kSocketConnectionRefused) << e.Description;  // not the 5-second time-out
    EXPECT_EQ(e.Source, "Winsock");
    EXPECT_FALSE(eth->OnLine());
    EXPECT_EQ(eth->StateString(), "Error");
    GoOnLine();  // the failed attempt is no obstacle to the next
    EXPECT_TRUE(eth->OnLine());
}

TEST_F(EthernetTest, AHostThatNeitherAnswersNorRefusesTimesOutAfterFiveSeconds) {
    Listener full(0);
    UniqueFd filler = ConnectTo(full.Port());  // takes the only place in its queue
    Configure(Variant("127.0.0.1"), Variant(static_cast<int32_t>(full.Port())));
    eth->TimeOut(1.0f);  // not the on-line wait's limit
    const ComError e = CaughtError([&] { eth->OnLine(true); });
    EXPECT_EQ(e.Number, kTimedOut);
    EXPECT_EQ(e.Source, "clsEthernet.IPortSetup_OnLine");
    EXPECT_EQ(e.Description, "Go on-line timed out after 5 seconds");
    EXPECT_EQ(eth->StateString(), "Closed");
}

TEST_F(EthernetTest, SettingsAreReadAtOnLineAndTheirFailuresNameTheMember) {
    GoOnLine();
    Configure(Variant("127.0.0.1"), Variant("not a port"));
    EXPECT_TRUE(eth->OnLine()) << "a change takes effect at the next on-line";
    eth->OnLine(false);
    ComError e = CaughtError([&] { eth->OnLine(true); });
    EXPECT_EQ(e.Number, kErrTypeMismatch);
    EXPECT_EQ(e.Source, "clsEthernet.IPortSetup_Online");

    Configure(Variant("127.0.0.1"), Variant(70000));
    e = CaughtError([&] { eth->OnLine(true); });
    EXPECT_EQ(e.Number, kSocketInvalidArgument);
    EXPECT_EQ(e.Source, "Winsock");
}

TEST_F(EthernetTest, ASocketErrorWhileNothingWaitsIsNeverReportedLaterAndReleasingTheDriverCloses) {
    GoOnLine();
    Reset(peer);
    ASSERT_TRUE(PumpUntil([&] { return eth->StateString() == "Error"; }));  // now recorded
    eth->OnLine(false);  // a fresh guarded call drops it
    EXPECT_EQ(eth->StateString(), "Closed");
    GoOnLine();
    eth.reset();
    EXPECT_TRUE(SeesClose(peer.get()));
}
