// The checked send over a scripted port, for what an instrument cannot be made
// to do on cue: every event-status combination, the status poll's cap and its
// end by the run state, nested errors, and a stop at each check point. The
// exchange with a real instrument model is tested with each driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>

#include <tessel/error.h>
#include <tessel/host.h>
#include <tessel/port.h>
#include <tessel/timeout.h>

#include "ports/checked_send.h"

using namespace tessel;

namespace {

constexpr const char* kSource = "clsTest.IPort_SendE";

// A port whose replies are scripted per message; every message is logged.
class ScriptedPort final : public IPort {
public:
    std::vector<std::string> log;
    std::map<std::string, std::deque<std::string>> replies;  // the last reply repeats
    std::function<void(const std::string&)> onMessage;
    float timeOut = 1.0f;

    void Reply(const std::string& message, std::initializer_list<std::string> texts) {
        replies[message] = texts;
    }

protected:
    void IPort_TimeOut(float sngData) override { timeOut = sngData; }
    float IPort_TimeOut() override { return timeOut; }
    uint16_t IPort_Status() override { return 0; }
    void IPort_SendE(std::string_view, Variant*) override {}
    void IPort_Send(std::string_view strCommand) override { Note(std::string(strCommand)); }
    std::string IPort_Receive(const Variant& strCommand) override {
        const std::string message = strCommand.ToString();
        Note(message);
        auto& queue = replies[message];
        if (queue.empty()) throw ComError(kObjectErrorBase + kErrTimedOut, "clsTest.IPort_Receive", "no reply");
        std::string reply = queue.front();
        if (queue.size() > 1) queue.pop_front();
        return reply;
    }
    int16_t IPort_Error() override { return 0; }
    int32_t IPort_Count() override { return 0; }

private:
    void Note(const std::string& message) {
        log.push_back(message);
        if (onMessage) onMessage(message);
    }
};

class CheckedSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        clsTimeout::SetClock([this] { return clock; });
        DefaultHostControl().Reset();
        port.Reply("*STB?", {"32"});
        port.Reply("*ESR?", {"1"});
    }
    void TearDown() override {
        clsTimeout::SetClock(nullptr);
        DefaultHostControl().Reset();
    }

    // The error number CheckedSend raises, 0 when it succeeds.
    int32_t Run(const std::string& command, Variant* ret = nullptr) {
        try {
            CheckedSend(port, kSource, command, ret);
        } catch (const ComError& e) {
            lastError = e;
            return e.Number;
        }
        return 0;
    }

    ScriptedPort port;
    double clock = 5000.0;
    ComError lastError{0, "", ""};
};

}  // namespace

TEST_F(CheckedSendTest, EventBitsAreTestedInTheirFixedOrder) {
    struct Case {
        const char* esr;
        int32_t code;
        const char* description;
    };
    for (const Case& c : {Case{"1", 0, ""}, Case{"5", kErrQueryError, "Device reports a query error"},
                          Case{"61", kErrQueryError, "Device reports a query error"},
                          Case{"9", kErrDeviceDependentError, "Device reports a device dependent error"},
                          Case{"48", kErrExecutionError, "Device reports a execution error"},
                          Case{"33", kErrCommandError, "Device reports a command error"},
                          Case{"0", kErrOperationNotComplete, "Device unexpectedly reports operation not complete"},
                          Case{"128", kErrOperationNotComplete, "Device unexpectedly reports operation not complete"}}) {
        port.Reply("*ESR?", {c.esr});
        port.log.clear();
        const int32_t got = Run("X");
        EXPECT_EQ(got, c.code == 0 ? 0 : kObjectErrorBase + c.code) << "ESR " << c.esr;
        if (c.code != 0) {
            EXPECT_EQ(lastError.Description, c.description) << "ESR " << c.esr;
            EXPECT_EQ(lastError.Source, kSource);
        }
    }
}

TEST_F(CheckedSendTest, StatusRepliesThatAreNotNumbersRaiseTheConversionError) {
    port.Reply("*STB?", {"garbage"});
    EXPECT_EQ(Run("X"), kErrTypeMismatch);
    EXPECT_EQ(lastError.Source, kSource);
    port.Reply("*STB?", {"32"});
    port.Reply("*ESR?", {"70000"});
    EXPECT_EQ(Run("X"), kErrOverflow);
    EXPECT_EQ(lastError.Source, kSource);
}

TEST_F(CheckedSendTest, StatusPollGivesUpAfterTheTimeOutCappedAtFourSeconds) {
    port.Reply("*STB?", {"0"});
    port.onMessage = [this](const std::string& m) {
        if (m == "*STB?") clock += 1.0;  // each poll takes a second
    };
    for (auto [timeOut, polls] : {std::pair{2.0f, 3}, {10.0f, 5}}) {
        port.timeOut = timeOut;
        port.log.clear();
        EXPECT_EQ(Run("X"), kObjectErrorBase + kErrEventRegisterClear) << timeOut;
        EXPECT_EQ(lastError.Description, "Event register was unexpectedly clear");
        EXPECT_EQ(std::count(port.log.begin(), port.log.end(), "*STB?"), polls) << timeOut;
    }
}

TEST_F(CheckedSendTest, RunStateEndsThePollWithTheClearRegisterError) {
    port.Reply("*STB?", {"0"});
    DefaultHostControl().SetRunState(1);
    EXPECT_EQ(Run("X"), kObjectErrorBase + kErrEventRegisterClear);
    EXPECT_EQ(std::count(port.log.begin(), port.log.end(), "*STB?"), 1);
}

TEST_F(CheckedSendTest, NestedErrorsReachTheCallerUnchanged) {
    port.replies["*STB?"].clear();  // the status query times out
    EXPECT_EQ(Run("X"), kObjectErrorBase + kErrTimedOut);
    EXPECT_EQ(lastError.Source, "clsTest.IPort_Receive");
}

TEST_F(CheckedSendTest, StopRequestEndsQuietlyAtEachCheckPoint) {
    // Stop after the n-th message: nothing further is sent and nothing raised.
    const std::vector<std::string> full = {"*CLS", "*SRE 0", "*ESE 61", "X; *OPC", "*STB?", "*ESR?"};
    for (std::size_t n = 0; n <= full.size(); ++n) {
        DefaultHostControl().Reset();
        port.log.clear();
        port.onMessage = [&](const std::string&) {
            if (port.log.size() == n) DefaultHostControl().SetStopRequested(true);
        };
        if (n == 0) DefaultHostControl().SetStopRequested(true);
        Variant ret;
        EXPECT_EQ(Run("X", &ret), 0) << n;
        EXPECT_EQ(port.log, std::vector<std::string>(full.begin(), full.begin() + static_cast<long>(n)))
            << n;
        EXPECT_EQ(ret, Variant(std::string()));
    }
}
