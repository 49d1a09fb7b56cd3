// The racing counter and the guarded counter, run as a person would run them.

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Launch;
using demo::Program;

std::vector<std::string> sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(UnguardedTally, PrintsOneTotalThatNeverExceedsTheFullCount)
{
    Program tally("unguarded_tally", {.terminal = false});
    ASSERT_EQ(tally.await_end(), demo::exited(0));

    std::vector<std::string> lines = tally.lines();
    ASSERT_EQ(lines.size(), 1u) << tally.output();
    std::optional<int> total = number_after(lines[0], "ARRRRG sum is ");
    ASSERT_TRUE(total) << lines[0];
    EXPECT_GT(*total, 0);
    EXPECT_LE(*total, 20000000);
    EXPECT_EQ(tally.errors(), "");
}

TEST(UnguardedTally, AWorkerThatCannotStartGivesNoTotal)
{
    Program tally("unguarded_tally", {.terminal = false, .faults = "pthread_create#2=EAGAIN"});
    ASSERT_EQ(tally.await_end(), demo::exited(1));
    EXPECT_EQ(tally.output(), "");
    EXPECT_EQ(tally.errors(), "pthread_create: Resource temporarily unavailable\n");
}

TEST(GuardedTally, CountsOneThenTwo)
{
    Program tally("guarded_tally");
    ASSERT_EQ(tally.await_end(), demo::exited(0));
    EXPECT_EQ(tally.lines(), (std::vector<std::string>{"Counter value: 1", "Counter value: 2"}));
}

TEST(GuardedTally, ReportsEachFailedCreationAndCountsWhatRan)
{
    struct Case {
        const char* faults;
        std::vector<std::string> lines;  // in order, or sorted where the order is free
        bool ordered;
    };
    const Case cases[] = {
        {"pthread_create#1=EAGAIN", {"Counter value: 1", "Thread creation failed: 11"}, false},
        {"pthread_create#2=EAGAIN", {"Counter value: 1", "Thread creation failed: 11"}, false},
        {"pthread_create#1=EAGAIN,pthread_create#2=EINVAL",
            {"Thread creation failed: 11", "Thread creation failed: 22"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        Program tally("guarded_tally", {.terminal = false, .faults = c.faults});
        ASSERT_EQ(tally.await_end(), demo::exited(0));
        EXPECT_EQ(c.ordered ? tally.lines() : sorted(tally.lines()), c.lines);
    }
}

}  // namespace
