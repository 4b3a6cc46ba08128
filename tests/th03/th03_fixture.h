// Loggers simulated by libth0332.so, reached through clsTH03 as a host does.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <tessel/th03.h>
#include <tessel/th03_sim.h>

#include "support/errors.h"

namespace tessel::test {

inline constexpr int32_t kQueryFailed = kObjectErrorBase + tthsQueryFailed;

class TH03Test : public ::testing::Test {
protected:
    void SetUp() override {
        UseTH03Library("");
        th03sim_reset();
    }

    // A channel object with its settings written as a host writes them.
    static std::shared_ptr<clsTH03> Channel(const char* port, const char* channel, const char* sensor = "1") {
        auto th03 = std::make_shared<clsTH03>();
        th03->Settings()->Item("Comm Port")->Value(-1, -1, Variant(port));
        th03->Settings()->Item("Channel")->Value(-1, -1, Variant(channel));
        th03->Settings()->Item("Sensor")->Value(-1, -1, Variant(sensor));
        return th03;
    }

    static std::string CallLog() {
        std::string log(th03sim_call_log(nullptr, 0) + 1, '\0');
        th03sim_call_log(log.data(), log.size());
        log.pop_back();
        return log;
    }

    // The thread's logger table: "<on-line count>:" then " <port>/<users>" a
    // slot, " closed" after a slot whose logger is not open.
    static std::string Table() {
        const TH03UnitTable table = TH03ThreadUnits();
        std::string text = std::to_string(table.OnLineCount) + ":";
        for (const TH03Unit& u : table.Units) {
            text += ' ';
            text += std::to_string(u.Port);
            text += '/';
            text += std::to_string(u.Users);
            if (!u.Open) text += " closed";
        }
        return text;
    }

    static bool Logged(const std::string& line) { return CallLog().find(line + "\n") != std::string::npos; }
};

}  // namespace tessel::test
