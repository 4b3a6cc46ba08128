// The wake-up on a descriptor someone else owns: it wakes a sleeping loop,
// leaves the owner's descriptor open, outlives nothing, and reports what it
// cannot watch instead of raising.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "ports/event_loop.h"
#include "ports/readable_watch.h"
#include "ports/unique_fd.h"

using namespace tessel;
using namespace std::chrono_literals;

namespace {

struct Pipe {
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            read.reset(fds[0]);
            write.reset(fds[1]);
        }
    }
    UniqueFd read, write;
};

TEST(ReadableWatch, WakesTheLoopOnceArmedAndLetsGoOfOnlyItsCopy) {
    EventLoop& loop = *EventLoop::Current();
    Pipe pipe;
    ASSERT_TRUE(pipe.read);
    {
        ReadableWatch watch(loop, pipe.read.get());
        ASSERT_TRUE(watch.Watching());
        EXPECT_EQ(watch.Error(), 0);
        watch.Arm();
        watch.Arm();
        ASSERT_EQ(::write(pipe.write.get(), "x", 1), 1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(loop.WaitFor(30s), 1u) << "the armed wait ran";
        EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
        // The pipe is still readable: a second wait would run now.
        EXPECT_EQ(loop.WaitFor(10ms), 0u) << "armed twice";
        // Armed again and then gone: the cancelled wait completes on the
        // loop's next turn, after its watch.
        watch.Arm();
    }
    EXPECT_GE(loop.WaitFor(10ms), 0u);
    EXPECT_NE(::fcntl(pipe.read.get(), F_GETFD), -1) << "the owner's descriptor stays open";
}

TEST(ReadableWatch, WhatItCannotWatchIsReportedNotRaised) {
    EventLoop& loop = *EventLoop::Current();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    {
        ReadableWatch watch(loop, ::fileno(file));  // the system watches no regular file
        EXPECT_FALSE(watch.Watching());
        EXPECT_EQ(watch.Error(), EPERM);
        watch.Arm();  // does nothing
    }
    std::fclose(file);
    const ReadableWatch none(loop, -1);
    EXPECT_FALSE(none.Watching());
    EXPECT_EQ(none.Error(), EBADF);
}

}  // namespace
