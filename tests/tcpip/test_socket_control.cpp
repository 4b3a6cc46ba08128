// The socket control behind its host form against loopback peers, for what the
// driver's tests (test_ethernet_*.cpp) cannot show. Events are noted through the
// form; every test also checks that each came on this thread inside a yield.
#include <algorithm>
#include <thread>
#include <vector>

#include <asio/error.hpp>

#include "ethernet_fixture.h"
#include "support/trace_recorder.h"
#include "tcpip/frmWinsock.h"
#include "tcpip/socket_errors.h"

using namespace tessel;
using namespace tessel::tcpip;
using namespace tessel::test;

namespace {

class SocketControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        form->Closed = [this] { Note("Close"); };
        form->Connected = [this] { Note("Connect"); };
        form->SendComplete = [this] { Note("SendComplete"); };
        form->DataArrival = [this](int32_t bytesTotal) {
            Note("DataArrival");
            EXPECT_EQ(bytesTotal, control().BytesReceived());
        };
        form->Error = [this](int16_t Number, std::string& Description, int32_t Scode, const std::string& Source,
                             const std::string&, int32_t, bool& CancelDisplay) {
            Note("Error");
            error = ComError(Number, Source, Description);
            scode = Scode;
            Description = "seen: " + Description;
            CancelDisplay = cancelDisplay;
        };
        control().Display = [this](int16_t, const std::string& description) { displayed.push_back(description); };
    }
    void TearDown() override { EXPECT_FALSE(eventOutsideYield) << "an event came inside a member or on another thread"; }

    SocketControl& control() { return form->Winsock; }
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
    bool PumpToState(int16_t state) { return Pump([&] { return form->State() == state; }); }
    void Connect(const std::string& host, uint16_t port) {
        form->RemoteHost(Variant(host));
        form->RemotePort(Variant(int32_t{port}));
        form->Connect();
    }
    void ConnectToPeer() {
        Connect("127.0.0.1", listener.Port());
        ASSERT_TRUE(PumpToState(kStateConnected));
        peer = listener.Accept();
        events.clear();
    }
    std::string Take() {
        Variant data;
        form->GetData(data, Variant(int16_t{kDataText}));
        return data.ToString();
    }

    ComError error{0, "", ""};
    int32_t scode = 0;
    bool cancelDisplay = false, yielding = false, eventOutsideYield = false;
    std::vector<std::string> displayed, events;
    std::unique_ptr<frmWinsock> form = std::make_unique<frmWinsock>(EventLoop::Current());
    Listener listener;
    UniqueFd peer;
    std::thread::id owner = std::this_thread::get_id();
};

}  // namespace

TEST_F(SocketControlTest, ConnectReturnsAtOnceTheStateRisesToConnectedSendsCompleteAndCloseEndsIt) {
    Connect("localhost", listener.Port());
    std::vector<int16_t> seen{control().State()};
    EXPECT_EQ(seen.front(), kStateResolvingHost);
    ASSERT_TRUE(Pump([&] {
        if (control().State() != seen.back()) seen.push_back(control().State());
        return control().State() == kStateConnected;
    })) << error.Description;
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << "states went backwards";
    peer = listener.Accept();
    form->SendData(Variant("AB"));
    form->SendData(Variant::Bytes({0x00, 0xFF, 0x0A}));
    ASSERT_TRUE(Pump([&] { return events.size() == 2; }));
    EXPECT_EQ(ReadExactly(peer.get(), 5), std::string("AB\0\xFF\n", 5));
    DoEvents();
    EXPECT_EQ(events, (std::vector<std::string>{"Connect", "SendComplete"})) << "one SendComplete for both";
    form->SendData(Variant(""));
    EXPECT_TRUE(Pump([&] { return events.size() == 3; })) << "an empty send completes too";
    form->Disconnect();
    EXPECT_EQ(form->State(), kStateClosed);
    EXPECT_TRUE(SeesClose(peer.get()));
    DoEvents();
    EXPECT_EQ(events.size(), 3u) << "Close raises nothing";
}

TEST_F(SocketControlTest, ErrorsCarryTheirNumbersTakeTheOwnersDescriptionAndCancelDisplayAndKeepWhatArrived) {
    const uint16_t closedPort = UnusedPort();
    cancelDisplay = true;
    Connect("127.0.0.1", closedPort);
    ASSERT_TRUE(PumpToState(kStateError));
    EXPECT_EQ(events, std::vector<std::string>{"Error"});
    EXPECT_EQ(error.Number, 10061);
    EXPECT_EQ(error.Source, "Winsock");
    EXPECT_EQ(static_cast<uint32_t>(scode), 0x800A274Du);
    EXPECT_NE(error.Description.find("127.0.0.1:" + std::to_string(closedPort)), std::string::npos);
    EXPECT_TRUE(displayed.empty()) << "the owner cancelled the display";
    cancelDisplay = false;
    ConnectToPeer();
    WriteAll(peer.get(), "xy");
    ASSERT_TRUE(Pump([&] { return control().BytesReceived() == 2; }));
    Reset(peer);
    ASSERT_TRUE(PumpToState(kStateError));
    EXPECT_EQ(error.Number, 10054);
    ASSERT_EQ(displayed.size(), 1u);
    EXPECT_EQ(displayed.front().rfind("seen: ", 0), 0u) << displayed.front();
    EXPECT_EQ(Take(), "xy");
}

TEST_F(SocketControlTest, GetDataTakesWhatIsAskedInTheTypeAskedAndArgumentsItCannotUseAreRefused) {
    const auto refused = [](const std::function<void()>& call) {
        return Raises(call, kSocketInvalidArgument, "Winsock");
    };
    EXPECT_TRUE(refused([&] { form->Connect(); })) << "no host";
    form->RemoteHost(Variant("127.0.0.1"));
    EXPECT_TRUE(refused([&] { form->Connect(); })) << "port 0";
    EXPECT_EQ(form->State(), kStateClosed);
    ConnectToPeer();
    WriteAll(peer.get(), "abcdefgh");
    ASSERT_TRUE(Pump([&] { return control().BytesReceived() == 8; }));
    Variant data;
    EXPECT_TRUE(refused([&] { form->SendData(Variant(int16_t{5})); }));
    EXPECT_TRUE(refused([&] { form->GetData(data, Variant(int16_t{3})); }));
    EXPECT_TRUE(refused([&] { form->GetData(data, Variant(int16_t{kDataText}), Variant(0)); }));
    EXPECT_EQ(form->State(), kStateConnected);
    EXPECT_EQ(control().BytesReceived(), 8) << "a refused GetData takes nothing";
    form->GetData(data, Variant(int16_t{kDataBytes}), Variant(3));
    EXPECT_EQ(data, Variant::Bytes({'a', 'b', 'c'}));
    EXPECT_EQ(control().BytesReceived(), 5);
    Variant text("");
    control().GetData(text, Variant::Missing(), Variant(1));  // no type: text stays text
    EXPECT_EQ(text, Variant("d"));
    form->GetData(data, Variant::Missing(), Variant(2));  // bytes stay bytes; the form drops the maximum
    EXPECT_EQ(data, Variant::Bytes({'e', 'f', 'g', 'h'}));
    EXPECT_EQ(Take(), "");
}

TEST_F(SocketControlTest, ReadingHoldsAtTheLimitAndTakesOfAnySizeKeepEveryByteInOrder) {
    ConnectToPeer();
    std::string sent(3 * kReceiveLimit + 12345, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 13 % 253);
    std::jthread writer([&, fd = peer.get()] { WriteAll(fd, sent); });
    ASSERT_TRUE(Pump([&] { return static_cast<std::size_t>(control().BytesReceived()) >= kReceiveLimit; }));
    // Nothing is taken for a while: reading must hold however long the loop runs.
    yielding = true;
    for (int i = 0; i < 10; ++i) WaitForEvents(20ms);
    yielding = false;
    // Sizes that straddle the arrivals (64 KiB), the compaction threshold and
    // the limit; text by the form, appended text and taken bytes share one queue.
    const std::size_t sizes[] = {1, 4093, 65537, 32767, 3, 200000};
    std::string taken;
    std::size_t turn = 0, mostWaiting = 0;
    ASSERT_TRUE(Pump([&] {
        mostWaiting = std::max(mostWaiting, static_cast<std::size_t>(control().BytesReceived()));
        std::vector<uint8_t> part(sizes[turn++ % std::size(sizes)]);
        taken.append(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(control().Take(part)));
        if (turn % 5 == 0) control().AppendTo(taken, 777);
        if (turn % 7 == 0) taken += Take();
        return taken.size() >= sent.size();
    }));
    EXPECT_LE(mostWaiting, kReceiveLimit + 65536) << "reading went on beyond the limit";
    EXPECT_TRUE(taken == sent) << "bytes changed or out of order";
}

TEST_F(SocketControlTest, NothingOfAClosedConnectionRaisesAnEventAfterTheClose) {
    ConnectToPeer();
    WriteAll(peer.get(), "old reply\r\n");
    Reset(peer);  // a reset and data both wait for the loop
    std::this_thread::sleep_for(20ms);
    form->Disconnect();
    Connect("127.0.0.1", listener.Port());
    ASSERT_TRUE(PumpToState(kStateConnected));
    UniqueFd second = listener.Accept();
    WriteAll(second.get(), "new\r\n");
    ASSERT_TRUE(Pump([&] { return control().BytesReceived() >= 5; }));
    EXPECT_EQ(Take(), "new\r\n");
    EXPECT_EQ(error.Number, 0) << error.Description;
    EXPECT_EQ(form->State(), kStateConnected);
}

// Take reads past the queue straight from the socket while no read is
// armed: such bytes must still be traced and kept in order, and a reset met
// there must still become the one Error event, not a quiet end of stream.
TEST_F(SocketControlTest, BytesTakenStraightFromTheSocketAreTracedAndAResetMetThereIsTheError) {
    ConnectToPeer();
    Recorder recorder;
    WriteAll(peer.get(), "queued ");
    ASSERT_TRUE(Pump([&] { return control().BytesReceived() == 7; }));  // its read done, none armed
    WriteAll(peer.get(), "straight");
    std::this_thread::sleep_for(20ms);
    std::vector<uint8_t> part(20);
    ASSERT_EQ(control().Take(part), 15u) << "what the socket held was not read at once";
    EXPECT_EQ(std::string(part.begin(), part.begin() + 15), "queued straight");
    EXPECT_EQ(recorder.Joined(TraceDirection::Received), "queued straight");

    WriteAll(peer.get(), "abc");
    Reset(peer);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(control().Take(part), 3u);
    EXPECT_EQ(control().Take(part), 0u);  // meets the reset
    ASSERT_TRUE(PumpToState(kStateError));
    EXPECT_EQ(error.Number, 10054) << error.Description;
    EXPECT_EQ(std::count(events.begin(), events.end(), "Close"), 0);
}

TEST_F(SocketControlTest, AHandlerMayDestroyTheControlWithOperationsPending) {
    ConnectToPeer();
    control().OnDataArrival = [this](int32_t) { form.reset(); };
    form->SendData(Variant(std::string(100000, 'x')));
    WriteAll(peer.get(), "bye");
    ASSERT_TRUE(Pump([&] { return form == nullptr; }));
    DoEvents();  // the dead control's handlers must find it gone
    EXPECT_TRUE(SeesClose(peer.get()));
}

TEST(SocketErrorNumber, SystemErrorsGetTheClassicSocketNumbers) {
    for (const auto& [e, number] : {std::pair{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {EHOSTUNREACH, 10065},
                                     {ECONNABORTED, 10053}, {EPIPE, 10058}, {EDOM, int{kSocketSystemFailure}}})
        EXPECT_EQ(SocketErrorNumber(std::error_code(e, asio::error::get_system_category())), number) << e;
    EXPECT_EQ(SocketErrorNumber(asio::error::host_not_found), 11001);
    EXPECT_EQ(SocketErrorNumber(asio::error::host_not_found_try_again), 11002);
}
