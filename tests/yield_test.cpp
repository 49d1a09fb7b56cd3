// The even and odd counters that yield after every batch of five.

#include <csignal>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Program;

// Every whole line is "even Thr: N" or "odd Thr: N", and each worker's numbers run 0, 2, 4, ... and
// 1, 3, 5, ... with no gap and no repeat, however the two interleave. A cut last line is allowed:
// it is what a signal leaves of buffered output. Gives back how many lines each worker printed.
testing::AssertionResult turns_in_order(const std::string& text, long& evens, long& odds)
{
    evens = odds = 0;
    std::size_t at = 0;
    for (long number = 1;; ++number) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            return testing::AssertionSuccess();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        long* seen = nullptr;
        long start = 0;
        std::optional<int> value = number_after(line, "even Thr: ");
        if (value)
            seen = &evens;
        else if ((value = number_after(line, "odd Thr: ")))
            seen = &odds, start = 1;
        if (seen == nullptr || line != line.substr(0, line.find(':')) + ": " + std::to_string(*value))
            return testing::AssertionFailure() << "line " << number << " is \"" << line << "\"";
        if (*value != start + 2 * *seen)
            return testing::AssertionFailure()
                << "line " << number << " is \"" << line << "\" after " << *seen << " lines of that worker";
        ++*seen;
    }
}

// The odd worker starts second and may be slow to come: wait for its first line, then for more
// lines of the even one, then for a good run of both.
demo::Check await_both_workers(Program& turns)
{
    demo::Check check = turns.await_line("odd Thr: 1");
    if (check)
        check = turns.await_text("even Thr: ");
    if (check)
        check = turns.await_lines(2000);
    return check;
}

TEST(EvenOddTurns, AtATerminalEachWorkerCountsOnUntilCtrlC)
{
    Program turns("even_odd_turns");
    ASSERT_TRUE(shown(await_both_workers(turns)));
    // The terminal drops output it has not delivered when Ctrl-C comes, so only what came before it
    // must run without a gap.
    std::string screen = turns.output();
    turns.interrupt();
    EXPECT_EQ(turns.await_end(), demo::killed_by(SIGINT));

    long evens = 0, odds = 0;
    EXPECT_TRUE(turns_in_order(screen, evens, odds));
    EXPECT_GT(evens, 0);
    EXPECT_GT(odds, 0);
}

TEST(EvenOddTurns, OnAPipeTheOutputComesInBlocksAndCanEndInMidLine)
{
    Program turns("even_odd_turns", {.terminal = false});
    ASSERT_TRUE(shown(await_both_workers(turns)));
    turns.interrupt();
    EXPECT_EQ(turns.await_end(), demo::killed_by(SIGINT));

    long evens = 0, odds = 0;
    EXPECT_TRUE(turns_in_order(turns.output(), evens, odds));
    EXPECT_GT(evens, 0);
    EXPECT_GT(odds, 0);
    EXPECT_EQ(turns.errors(), "");
}

// If the odd worker cannot start, the even one is already printing: the program must say so and
// end with whole lines, never joining the handle that was not filled in.
TEST(EvenOddTurns, AWorkerThatCannotStartIsReportedAndNotJoined)
{
    struct Case {
        const char* faults;
        bool evens_run;
    };
    const Case cases[] = {{"pthread_create#1=EAGAIN", false}, {"pthread_create#2=EAGAIN", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        for (int run = 0; run < (c.evens_run ? 100 : 1); ++run) {
            Program turns("even_odd_turns", {.terminal = false, .faults = c.faults});
            ASSERT_EQ(turns.await_end(), demo::exited(1));
            EXPECT_EQ(turns.errors(), "pthread_create: Resource temporarily unavailable\n");
            std::string text = turns.output();
            long evens = 0, odds = 0;
            ASSERT_TRUE(turns_in_order(text, evens, odds));
            EXPECT_EQ(odds, 0);
            if (!c.evens_run) {
                EXPECT_EQ(text, "");
            }
            ASSERT_TRUE(text.empty() || text.back() == '\n')
                << "run " << run << " ended: " << text.substr(text.size() > 40 ? text.size() - 40 : 0);
        }
    }
}

}  // namespace
