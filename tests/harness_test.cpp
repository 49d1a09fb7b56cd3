// The driver itself, where the other tests lean on something it promises.

#include <chrono>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Clock;
using demo::Program;

TEST(Driver, TimeScalingShortensSleeps)
{
    auto start = Clock::now();
    Program handoff("wait_wake_handoff", {.terminal = false, .time_scale = 20});
    ASSERT_EQ(handoff.await_end(), demo::exited(0));
    // One second of the program's time is 50 ms here; unscaled it would be a whole second.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
}

}  // namespace
