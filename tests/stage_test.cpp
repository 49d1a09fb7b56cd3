// The stage itself, where a person debugging a failure leans on what it says.

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Clock;
using demo::Program;

TEST(Stage, AFailedWaitShowsTheKeysTheSignalsAndTheLinesWithTimes)
{
    Program gate("enter_gate");
    // A flood of greetings first, enough for the transcript to shorten.
    ASSERT_TRUE(shown(gate.await_lines(100)));
    gate.type("\n");
    ASSERT_TRUE(shown(gate.await_line("Semaphore locked.")));
    demo::Check never = gate.await_line("a line it never prints", std::chrono::milliseconds(200));
    ASSERT_FALSE(never);
    EXPECT_TRUE(holds(never.what, "started enter_gate"));
    EXPECT_TRUE(holds(never.what, "s  typed \"\\n\""));
    EXPECT_TRUE(holds(never.what, "| Semaphore locked."));
    EXPECT_TRUE(holds(never.what, "more lines ..."));  // the greetings, a flood, shortened

    gate.signal(SIGTERM);
    ASSERT_EQ(gate.await_end(), demo::killed_by(SIGTERM));
    std::string transcript = gate.transcript();
    EXPECT_TRUE(holds(transcript, "s  sent SIGTERM"));
    EXPECT_TRUE(holds(transcript, "s  it was ended by SIGTERM"));
}

TEST(Stage, AProgramItCannotFindIsNamedWithWhereItLooked)
{
    try {
        Program missing("no_such_program");
        FAIL() << "it started a program that does not exist";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(holds(error.what(), "the program no_such_program not found"));
        EXPECT_TRUE(holds(error.what(), "/bin/no_such_program"));
    }
}

TEST(Stage, TimeScalingShortensSleeps)
{
    auto start = Clock::now();
    Program handoff("wait_wake_handoff", {.terminal = false, .time_scale = 20});
    ASSERT_EQ(handoff.await_end(), demo::exited(0));
    // One second of the program's time is 50 ms here; unscaled it would be a whole second.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
}

}  // namespace
