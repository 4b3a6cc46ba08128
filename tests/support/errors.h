// Catching the ComError a call raises, for tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>

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

}  // namespace tessel::test
