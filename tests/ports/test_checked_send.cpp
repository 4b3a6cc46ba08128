// The checked send over a scripted port, for what an instrument cannot be made
// to do on cue; the exchange with a real instrument model is tested per driver.
#include <gtest/gtest.h>

#include <algorithm>
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

// A port that answers each message from a script (no entry: a time-out) and
// logs every message.
struct ScriptedPort final : IPort {
    std::vector<std::string> log;
    std::map<std::string, std::string> replies;
    std::function<void(const std::string&)> onMessage;
    float timeOut = 1.0f;

    void IPort_TimeOut(float sngData) override { timeOut = sngData; }
    float IPort_TimeOut() override { return timeOut; }
    uint16_t IPort_Status() override { return 0; }
    void IPort_SendE(std::string_view, Variant*) override {}
    void IPort_Send(std::string_view strCommand) override {
        log.emplace_back(strCommand);
        if (onMessage) onMessage(log.back());
    }
    std::string IPort_Receive(const Variant& strCommand) override {
        IPort_Send(strCommand.ToString());
        const auto reply = replies.find(log.back());
        if (reply == replies.end())
            throw ComError(kObjectErrorBase + kErrTimedOut, "clsTest.IPort_Receive", "no reply");
        return reply->second;
    }
    int16_t IPort_Error() override { return 0; }
    int32_t IPort_Count() override { return 0; }
};

class CheckedSendTest : public ::testing::Test {
protected:
    void SetUp() override {
        clsTimeout::SetClock([this] { return clock; });
        DefaultHostControl().Reset();
        port.replies = {{"*STB?", "32"}, {"*ESR?", "1"}};
    }
    void TearDown() override {
        clsTimeout::SetClock(nullptr);
        DefaultHostControl().Reset();
    }

    // What CheckedSend raises; number 0 when it succeeds.
    ComError Run(Variant* ret = nullptr) {
        try {
            CheckedSend(port, kSource, "X", ret);
        } catch (const ComError& e) {
            return e;
        }
        return ComError(0, "", "");
    }

    ScriptedPort port;
    double clock = 5000.0;
};

}  // namespace

TEST_F(CheckedSendTest, EventBitsAreTestedInTheirFixedOrderAndRepliesMustBeNumbers) {
    constexpr int32_t B = kObjectErrorBase, notComplete = B + kErrOperationNotComplete;
    const char* const notCompleteText = "Device unexpectedly reports operation not complete";
    const struct {
        const char *stb, *esr;
        int32_t number;
        const char* description;  // none for the run time's own conversion errors
    } cases[] = {
        {"32", "1", 0, ""}, {"32", "5", B + kErrQueryError, "Device reports a query error"},
        {"32", "61", B + kErrQueryError, "Device reports a query error"},
        {"32", "9", B + kErrDeviceDependentError, "Device reports a device dependent error"},
        {"32", "48", B + kErrExecutionError, "Device reports a execution error"},
        {"32", "33", B + kErrCommandError, "Device reports a command error"},
        {"32", "0", notComplete, notCompleteText}, {"32", "128", notComplete, notCompleteText},
        {"garbage", "1", kErrTypeMismatch, nullptr}, {"32", "70000", kErrOverflow, nullptr},
    };
    for (const auto& c : cases) {
        port.replies = {{"*STB?", c.stb}, {"*ESR?", c.esr}};
        const ComError e = Run();
        EXPECT_EQ(e.Number, c.number) << c.stb << " " << c.esr;
        EXPECT_EQ(e.Source, c.number ? kSource : "") << c.stb << " " << c.esr;
        if (c.description) { EXPECT_EQ(e.Description, c.description) << c.esr; }
    }
}

TEST_F(CheckedSendTest, StatusPollGivesUpAfterTheTimeOutCappedAtFourSecondsOrOnTheRunState) {
    port.replies = {{"*STB?", "0"}, {"*ESR?", "1"}};
    port.onMessage = [this](const std::string& m) {
        if (m == "*STB?") clock += 1.0;  // each poll takes a second
    };
    for (auto [timeOut, runState, polls] : {std::tuple{2.0f, 0, 3}, {10.0f, 0, 5}, {10.0f, 1, 1}}) {
        port.timeOut = timeOut;
        DefaultHostControl().SetRunState(runState);
        port.log.clear();
        const ComError e = Run();
        EXPECT_EQ(e.Number, kObjectErrorBase + kErrEventRegisterClear) << timeOut << " " << runState;
        EXPECT_EQ(e.Description, "Event register was unexpectedly clear");
        EXPECT_EQ(std::count(port.log.begin(), port.log.end(), "*STB?"), polls) << timeOut << " " << runState;
    }
}

TEST_F(CheckedSendTest, NestedErrorsReachTheCallerUnchanged) {
    port.replies.erase("*STB?");
    const ComError e = Run();
    EXPECT_EQ(e.Number, kObjectErrorBase + kErrTimedOut);
    EXPECT_EQ(e.Source, "clsTest.IPort_Receive");
}

TEST_F(CheckedSendTest, StopRequestEndsQuietlyAtEachCheckPoint) {
    // Stop after the n-th message: nothing further is sent and nothing raised.
    const std::vector<std::string> full = {"*CLS", "*SRE 0", "*ESE 61", "X; *OPC", "*STB?", "*ESR?"};
    for (std::size_t n = 0; n <= full.size(); ++n) {
        DefaultHostControl().Reset();
        DefaultHostControl().SetStopRequested(n == 0);
        port.log.clear();
        port.onMessage = [&](const std::string&) {
            if (port.log.size() == n) DefaultHostControl().SetStopRequested(true);
        };
        Variant ret;
        EXPECT_EQ(Run(&ret).Number, 0) << n;
        EXPECT_EQ(port.log, std::vector<std::string>(full.begin(), full.begin() + static_cast<long>(n))) << n;
        EXPECT_EQ(ret, Variant(std::string()));
    }
}
