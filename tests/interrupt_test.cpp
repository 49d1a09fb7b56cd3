// The interrupt tally: it counts runs of its SIGINT handler, not presses of the interrupt key.

#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include "expect.hpp"
#include "processes.hpp"

namespace {

using demo::Clock;
using demo::Program;

const std::string run_line = "CTRL+C";

std::string runs(int count)
{
    std::string text;
    for (int run = 0; run < count; ++run)
        text += run_line + "\n";
    return text;
}

std::string summary(int count)
{
    return "CTRL+c was pushed " + std::to_string(count) + " times. \n";
}

// ThreadSanitizer runs a handler only when the program next enters the C library or blocks in it,
// and the poll does neither: under it the interrupts would never be counted.
class InterruptTally : public testing::Test {
protected:
    void SetUp() override
    {
        if (demo::thread_sanitized())
            GTEST_SKIP() << "ThreadSanitizer holds signals back from a loop that makes no calls";
    }
};

// A 100-second handler run takes one real second here. Where an interrupt sent on seeing "CTRL+C"
// must land inside that same run, the second is its margin: between the program's write and the
// signal stand a few thread wake-ups, milliseconds even on a loaded machine.
constexpr double run_scale = 100;

TEST_F(InterruptTally, FiveInterruptsEachAfterTheLastRunGiveFiveRunsThenTheSummary)
{
    // Every interrupt lands while the poll spins, so the runs may be short here.
    Program p("interrupt_tally", {.terminal = false, .time_scale = 1000});
    ASSERT_TRUE(shown(p.await_caught(SIGINT)));
    for (int run = 1; run <= 5; ++run) {
        p.signal(SIGINT);
        ASSERT_TRUE(shown(p.await_line(run_line)));
        if (run < 5) {
            ASSERT_TRUE(shown(demo::await_spinning(p.pid(), "the poll after run " + std::to_string(run))));
        }
    }
    ASSERT_EQ(p.await_end(), demo::exited(0));
    EXPECT_EQ(p.output(), runs(5) + summary(5));
    EXPECT_EQ(p.errors(), "");
}

TEST_F(InterruptTally, ABurstOfInterruptsDuringARunMakesJustOneMoreRun)
{
    Program p("interrupt_tally", {.time_scale = run_scale});
    ASSERT_TRUE(shown(p.await_caught(SIGINT)));
    // Five presses in all: the first starts a run, the other four come during it.
    p.interrupt();
    ASSERT_TRUE(shown(p.await_line(run_line)));
    for (int press = 2; press <= 5; ++press)
        p.interrupt();
    // Blocked while its handler runs, the signal waits as one, however often it was sent.
    ASSERT_TRUE(shown(p.await_pending(SIGINT)));
    ASSERT_TRUE(shown(p.await_line(run_line)));
    ASSERT_TRUE(shown(demo::await_spinning(p.pid(), "the poll after the second run")));
    // A third run would have started the moment the second ended.
    EXPECT_TRUE(shown(p.silent_for(demo::milliseconds(100))));
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.output(), runs(2));
}

TEST_F(InterruptTally, AnInterruptDuringTheFifthRunMakesASixthAndTheSummaryCarriesSix)
{
    Program p("interrupt_tally", {.time_scale = run_scale});
    ASSERT_TRUE(shown(p.await_caught(SIGINT)));
    for (int run = 1; run <= 5; ++run) {
        p.interrupt();
        ASSERT_TRUE(shown(p.await_line(run_line)));
    }
    // The sixth run follows the fifth at once: the poll never gets to see the count at 5.
    p.interrupt();
    ASSERT_EQ(p.await_end(), demo::exited(0));
    EXPECT_EQ(p.output(), runs(6) + summary(6));
}

TEST_F(InterruptTally, TheQuitKeyEndsItWithoutASummary)
{
    // Quit's default action dumps core: keep the file out of the test's folder.
    rlimit core{};
    getrlimit(RLIMIT_CORE, &core);
    core.rlim_cur = 0;
    setrlimit(RLIMIT_CORE, &core);

    Program p("interrupt_tally", {.time_scale = run_scale});
    ASSERT_TRUE(shown(p.await_caught(SIGINT)));
    p.interrupt();
    ASSERT_TRUE(shown(p.await_line(run_line)));
    // During the run: the handler holds back SIGINT only.
    p.quit();
    EXPECT_EQ(p.await_end(), demo::killed_by(SIGQUIT));
    EXPECT_EQ(p.output(), runs(1));
}

}  // namespace
