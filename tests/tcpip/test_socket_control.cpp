// The socket control against loopback peers. Every test also checks that
// each event came on this thread from inside a yield.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <vector>

#include <asio/error.hpp>

#include <tessel/error.h>
#include <tessel/ethernet.h>
#include <tessel/events.h>

#include "loopback.h"
#include "tcpip/socket_control.h"
#include "tcpip/socket_errors.h"

using namespace tessel;
using namespace tessel::tcpip;
using namespace tessel::test;

namespace {

class SocketControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        control->OnClose = [this] { Note("Close"); };
        control->OnConnect = [this] { Note("Connect"); };
        control->OnDataArrival = [this](int32_t bytesTotal) {
            Note("DataArrival");
            EXPECT_EQ(bytesTotal, control->BytesReceived());
        };
        control->OnError = [this](int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                                  const std::string&, int32_t, bool&) {
            Note("Error");
            error = {Number, Description, Scode, Source};
        };
        control->OnSendComplete = [this] { Note("SendComplete"); };
    }

    void TearDown() override {
        EXPECT_FALSE(eventOutsideYield) << "an event was raised inside a member or on another thread";
    }

    void Note(const std::string& event) {
        events.push_back(event);
        if (!yielding || std::this_thread::get_id() != owner) eventOutsideYield = true;
    }

    bool Pump(const std::function<bool()>& cond) {
        yielding = true;
        const bool held = PumpUntil(cond);
        yielding = false;
        return held;
    }

    bool PumpToState(int16_t state) {
        return Pump([&] { return control->State() == state; });
    }

    void Connect(const std::string& host, uint16_t port) {
        control->RemoteHost(host);
        control->RemotePort(port);
        control->Connect();
    }

    void ConnectToPeer() {
        Connect("127.0.0.1", listener.Port());
        ASSERT_TRUE(PumpToState(kStateConnected));
        peer = listener.Accept();
        events.clear();
    }

    std::string Take(int16_t type = kDataText, const Variant& maxLen = Variant::Missing()) {
        Variant data;
        control->GetData(data, Variant(type), maxLen);
        return data.ToString();
    }

    struct {
        int16_t number = 0;
        std::string description;
        int32_t scode = 0;
        std::string source;
    } error;
    std::unique_ptr<SocketControl> control = std::make_unique<SocketControl>(EventLoop::Current());
    Listener listener;
    UniqueFd peer;
    std::vector<std::string> events;
    bool yielding = false;
    bool eventOutsideYield = false;
    std::thread::id owner = std::this_thread::get_id();
};

int32_t Refusal(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Source, "Winsock");
        return e.Number;
    }
    return 0;
}

}  // namespace

TEST_F(SocketControlTest, ConnectReturnsAtOnceAndTheStateRisesToConnectedThenCloseEndsIt) {
    Connect("127.0.0.1", listener.Port());
    std::vector<int16_t> seen{control->State()};
    EXPECT_EQ(seen.front(), kStateResolvingHost);
    ASSERT_TRUE(Pump([&] {
        if (control->State() != seen.back()) seen.push_back(control->State());
        return control->State() == kStateConnected;
    }));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "states went backwards";
    EXPECT_EQ(events, std::vector<std::string>{"Connect"});

    peer = listener.Accept();
    control->Close();
    EXPECT_EQ(control->State(), kStateClosed);
    EXPECT_TRUE(SeesClose(peer.get()));
    DoEvents();
    EXPECT_EQ(events.size(), 1u) << "Close raises nothing";
}

TEST_F(SocketControlTest, AHostNameIsLookedUp) {
    Connect("localhost", listener.Port());
    EXPECT_TRUE(PumpToState(kStateConnected)) << error.description;
}

TEST_F(SocketControlTest, ARefusedConnectionRaisesErrorAndTheNextConnectMayFollow) {
    const uint16_t closedPort = UnusedPort();
    Connect("127.0.0.1", closedPort);
    ASSERT_TRUE(PumpToState(kStateError));
    EXPECT_EQ(events, std::vector<std::string>{"Error"});
    EXPECT_EQ(error.number, 10061);
    EXPECT_EQ(error.source, "Winsock");
    EXPECT_EQ(static_cast<uint32_t>(error.scode), 0x800A274Du);
    EXPECT_NE(error.description.find("127.0.0.1:" + std::to_string(closedPort)), std::string::npos);

    Connect("127.0.0.1", listener.Port());
    EXPECT_TRUE(PumpToState(kStateConnected));
}

TEST_F(SocketControlTest, MembersRefuseAtOnceWhatTheStateOrArgumentsDoNotAllow) {
    EXPECT_EQ(Refusal([&] { control->SendData(Variant("x")); }), kSocketWrongState);
    EXPECT_EQ(Refusal([&] { control->Connect(); }), kSocketInvalidArgument) << "no host";
    control->RemoteHost("127.0.0.1");
    EXPECT_EQ(Refusal([&] { control->Connect(); }), kSocketInvalidArgument) << "port 0";
    EXPECT_EQ(Refusal([&] { control->RemotePort(65536); }), kSocketInvalidArgument);
    EXPECT_EQ(control->State(), kStateClosed);

    ConnectToPeer();
    EXPECT_EQ(Refusal([&] { control->Connect(); }), kSocketWrongState);
    EXPECT_EQ(control->State(), kStateConnected);
    EXPECT_EQ(Refusal([&] { control->SendData(Variant(int16_t{5})); }), kSocketInvalidArgument);
    EXPECT_EQ(Refusal([&] { Take(3); }), kSocketInvalidArgument);
    EXPECT_EQ(Refusal([&] { Take(kDataText, Variant(0)); }), kSocketInvalidArgument);
}

TEST_F(SocketControlTest, SendDataWritesTextAndBytesAndOneSendCompleteFollows) {
    ConnectToPeer();
    control->SendData(Variant("AB"));
    control->SendData(Variant::Bytes({0x00, 0xFF, 0x0A}));
    ASSERT_TRUE(Pump([&] { return !events.empty(); }));
    EXPECT_EQ(ReadExactly(peer.get(), 5), std::string("AB\0\xFF\n", 5));
    DoEvents();
    EXPECT_EQ(events, std::vector<std::string>{"SendComplete"});
    control->SendData(Variant(""));
    EXPECT_TRUE(Pump([&] { return events.size() == 2; })) << "an empty send completes too";
}

TEST_F(SocketControlTest, GetDataTakesWhatIsAskedInTheTypeAsked) {
    ConnectToPeer();
    WriteAll(peer.get(), "abcdefgh");
    ASSERT_TRUE(Pump([&] { return control->BytesReceived() == 8; }));
    Variant data;
    control->GetData(data, Variant(int16_t{kDataBytes}), Variant(4));
    EXPECT_EQ(data, Variant::Bytes({'a', 'b', 'c', 'd'}));
    EXPECT_EQ(control->BytesReceived(), 4);
    Variant text("");
    control->GetData(text, Variant::Missing(), Variant(1));  // no type: text stays text
    EXPECT_EQ(text, Variant("e"));
    EXPECT_EQ(Take(), "fgh");
    EXPECT_EQ(control->BytesReceived(), 0);
    EXPECT_EQ(Take(), "");
}

TEST_F(SocketControlTest, APeerThatClosesLeavesWhatItSentReadable) {
    ConnectToPeer();
    WriteAll(peer.get(), "tail");
    peer.reset();
    ASSERT_TRUE(PumpToState(kStatePeerClosing));
    EXPECT_EQ(events, (std::vector<std::string>{"DataArrival", "Close"}));
    EXPECT_EQ(Take(), "tail");
    EXPECT_EQ(Refusal([&] { control->SendData(Variant("x")); }), kSocketWrongState);
}

TEST_F(SocketControlTest, AResetRaisesErrorAndKeepsWhatArrivedBefore) {
    ConnectToPeer();
    WriteAll(peer.get(), "xy");
    ASSERT_TRUE(Pump([&] { return control->BytesReceived() == 2; }));
    Reset(peer);
    ASSERT_TRUE(PumpToState(kStateError));
    EXPECT_EQ(error.number, 10054);
    EXPECT_EQ(Take(), "xy");
}

TEST_F(SocketControlTest, ReadingStopsAtTheLimitAndResumesWhenDataIsTaken) {
    ConnectToPeer();
    std::string sent(3 * kReceiveLimit, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 % 251);
    std::jthread writer([&, fd = peer.get()] { WriteAll(fd, sent); });

    ASSERT_TRUE(Pump([&] { return static_cast<std::size_t>(control->BytesReceived()) >= kReceiveLimit; }));
    std::string taken;
    std::size_t mostWaiting = 0;
    ASSERT_TRUE(Pump([&] {
        mostWaiting = std::max(mostWaiting, static_cast<std::size_t>(control->BytesReceived()));
        taken += Take();
        return taken.size() >= sent.size();
    }));
    EXPECT_TRUE(taken == sent) << "bytes changed or out of order";
    EXPECT_LE(mostWaiting, kReceiveLimit + 65536) << "reading went on beyond the limit";
}

TEST_F(SocketControlTest, AHandlerMayDestroyTheControlWithOperationsPending) {
    ConnectToPeer();
    control->OnDataArrival = [this](int32_t) { control.reset(); };
    control->SendData(Variant(std::string(100000, 'x')));
    WriteAll(peer.get(), "bye");
    ASSERT_TRUE(Pump([&] { return control == nullptr; }));
    DoEvents();  // the dead control's handlers must find it gone
    EXPECT_TRUE(SeesClose(peer.get()));
}

TEST(SocketErrorNumber, LinuxErrorsGetTheClassicSocketNumbers) {
    auto number = [](int e) { return SocketErrorNumber(std::error_code(e, asio::error::get_system_category())); };
    EXPECT_EQ(number(ECONNREFUSED), 10061);
    EXPECT_EQ(number(ETIMEDOUT), 10060);
    EXPECT_EQ(number(EHOSTUNREACH), 10065);
    EXPECT_EQ(number(ECONNABORTED), 10053);
    EXPECT_EQ(number(EPIPE), 10058);
    EXPECT_EQ(number(EDOM), kSocketSystemFailure);
    EXPECT_EQ(SocketErrorNumber(asio::error::host_not_found), 11001);
    EXPECT_EQ(SocketErrorNumber(asio::error::host_not_found_try_again), 11002);
}
