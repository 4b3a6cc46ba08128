// Catching the ComError a call raises, for tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <tessel/error.h>

namespace tessel::test {

inline constexpr int32_t kTimedOut = kObjectErrorBase + kErrTimedOut;

// The error `call` raised; a test failure (and an empty error) when it raised none.
inline ComError CaughtError(const std::function<void()>& call) {
    try {
        call();
    } catch (const ComError& e) {
        return e;
    }
    ADD_FAILURE() << "no ComError was raised";
    return ComError(0, "", "");
}

// Checks the error `call` raises, the description only when given, and returns it.
inline ComError ExpectError(const std::function<void()>& call, int32_t number, const std::string& source,
                            const char* description = nullptr) {
    ComError e = CaughtError(call);
    EXPECT_EQ(e.Number, number);
    EXPECT_EQ(e.Source, source);
    if (description) { EXPECT_EQ(e.Description, description); }
    return e;
}

}  // namespace tessel::test
