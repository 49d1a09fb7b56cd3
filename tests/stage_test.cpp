// The stage itself, where a person debugging a failure leans on what it says.

#include <csignal>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Program;

TEST(Stage, AFailedWaitShowsTheKeysTheSignalsAndTheLinesWithTimes)
{
    Program gate("enter_gate");
    ASSERT_TRUE(shown(gate.await_line("Hello from da thread!")));
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

}  // namespace
