// The condition-variable handoff: its line order, and whole lines at the end of every run.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Program;

// The process ends while the thread that was never joined may be printing: over many runs, the
// output must still be the handoff's lines, whole, with "Returning thread" once or twice.
void expect_handoff_every_time(bool terminal, int runs)
{
    for (int run = 0; run < runs; ++run) {
        // The one-second pause is scaled down: the roles may swap, the lines may not change.
        Program handoff("wait_wake_handoff", {.terminal = terminal, .time_scale = 200});
        ASSERT_EQ(handoff.await_end(), demo::exited(0));
        std::vector<std::string> lines = handoff.lines();
        std::string seen = "run " + std::to_string(run) + " printed:\n" + handoff.output();
        ASSERT_GE(lines.size(), 3u) << seen;
        ASSERT_LE(lines.size(), 4u) << seen;
        EXPECT_EQ(lines[0], "Waiting on condition variable cond1") << seen;
        EXPECT_EQ(lines[1], "Signaling condition variable cond1") << seen;
        for (std::size_t i = 2; i < lines.size(); ++i)
            ASSERT_EQ(lines[i], "Returning thread") << seen;
        ASSERT_EQ(handoff.output().back(), '\n') << seen;
    }
}

TEST(WaitWakeHandoff, WaitsThenSignalsThenReturnsAtATerminal)
{
    expect_handoff_every_time(true, 150);
}

TEST(WaitWakeHandoff, WaitsThenSignalsThenReturnsOnAPipe)
{
    expect_handoff_every_time(false, 150);
}

TEST(WaitWakeHandoff, ATimeScaledPauseStillSeparatesTheRoles)
{
    Program handoff("wait_wake_handoff", {.terminal = true, .time_scale = 4});
    ASSERT_TRUE(shown(handoff.await_line("Waiting on condition variable cond1")));
    // A quarter of a second later, the second thread signals.
    ASSERT_TRUE(shown(handoff.silent_for(demo::milliseconds(100))));
    ASSERT_TRUE(shown(handoff.await_line("Signaling condition variable cond1")));
    EXPECT_EQ(handoff.await_end(), demo::exited(0));
}

TEST(WaitWakeHandoff, ASecondThreadThatCannotStartIsReported)
{
    Program handoff(
        "wait_wake_handoff", {.terminal = false, .time_scale = 100, .faults = "pthread_create#2=EAGAIN"});
    ASSERT_EQ(handoff.await_end(), demo::exited(1));
    EXPECT_EQ(handoff.errors(), "pthread_create: Resource temporarily unavailable\n");
    // The first thread may not have got to its line before the process ended: it is whole, or absent.
    std::string output = handoff.output();
    EXPECT_TRUE(output.empty() || output == "Waiting on condition variable cond1\n") << output;
}

}  // namespace
