// What every program that ends by itself owes whoever redirected its output: no success when that
// output never arrived, and one line on standard error that says why.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Clock;
using demo::Launch;
using demo::Program;

// Where the program's standard output goes: a device that is always full, or nowhere at all.
enum class Lost { Full, Closed };

TEST(LostOutput, EachProgramThatEndsByItselfSaysWhyAndEndsWithStatusOne)
{
    struct Case {
        const char* name;
        Launch launch;
        std::function<void(Program&)> end;  // what a person does to make it end
        bool handlers_run = true;           // false: not under ThreadSanitizer (see the other tests)
    };
    auto nothing = [](Program&) {};
    auto interrupt_once = [](Program& p) {
        ASSERT_TRUE(shown(p.await_caught(SIGINT)));
        p.signal(SIGINT);
    };
    // Interrupts slower than the 10 ms runs, so that the poll gets to look between them (one that
    // comes during a run merely waits for its end), until five runs or more have been counted.
    auto interrupt_until_it_ends = [](Program& p) {
        ASSERT_TRUE(shown(p.await_caught(SIGINT)));
        for (auto until = Clock::now() + demo::patience(); p.running() && Clock::now() < until;) {
            p.signal(SIGINT);
            std::this_thread::sleep_for(demo::milliseconds(50));
        }
    };
    auto end_the_child = [](Program& p) {
        pid_t child = p.await_child();
        ASSERT_NE(child, 0) << "no child came";
        kill(child, SIGTERM);
    };
    const Case cases[] = {
        {"unguarded_tally", {}, nothing},
        {"guarded_tally", {}, nothing},
        {"wait_wake_handoff", {.time_scale = 100}, nothing},
        {"enter_gate", {.input = demo::Stdin::Eof}, nothing},
        {"interrupt_release", {}, interrupt_once, false},
        {"interrupt_tally", {.time_scale = 10000}, interrupt_until_it_ends, false},
        {"child_exit_notice", {}, end_the_child},
        {"renice_self", {.time_scale = 100}, nothing},
        {"show_niceness", {.args = {"0"}}, nothing},
    };
    for (const Case& c : cases) {
        if (!c.handlers_run && demo::thread_sanitized())
            continue;
        for (Lost lost : {Lost::Full, Lost::Closed}) {
            SCOPED_TRACE(std::string(c.name) + (lost == Lost::Full ? " > /dev/full" : " >&-"));
            Launch launch = c.launch;
            launch.terminal = false;
            if (lost == Lost::Full)
                launch.output_file = "/dev/full";
            else
                launch.output_closed = true;
            Program p(c.name, launch);
            c.end(p);
            ASSERT_EQ(p.await_end(), demo::exited(1));
            EXPECT_EQ(p.errors(),
                std::string(c.name) + ": " + std::strerror(lost == Lost::Full ? ENOSPC : EBADF) + "\n");
        }
    }
}

}  // namespace
