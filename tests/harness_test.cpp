// The driver itself, where the other tests lean on something it promises; and what every program
// that ends by itself owes whoever redirected its output: no success when that output never arrived.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "expect.hpp"
#include "processes.hpp"

namespace {

using demo::Clock;
using demo::Launch;
using demo::Program;

TEST(Driver, TimeScalingShortensSleeps)
{
    auto start = Clock::now();
    Program handoff("wait_wake_handoff", {.terminal = false, .time_scale = 20});
    ASSERT_EQ(handoff.await_end(), demo::exited(0));
    // One second of the program's time is 50 ms here; unscaled it would be a whole second.
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(900));
}

// Where the program's standard output goes: a device that is always full, or nowhere at all.
enum class Lost { Full, Closed };

// `name >&-` as a shell runs it: the shell closes the descriptor, then becomes the program and keeps
// its process ID. The driver starts programs by their name in the programs' folder, so the shell is
// named from there.
std::string shell_closing_output(const std::string& name, Launch& launch)
{
    std::string path = demo::program_path(name);
    launch.args.insert(launch.args.begin(), {"-c", "exec \"$0\" \"$@\" >&-", path});
    return std::filesystem::relative("/bin/sh", std::filesystem::path(path).parent_path()).string();
}

// Waits until the shell has become the program, or what it became has ended already: before that, a
// signal would reach the shell.
testing::AssertionResult became(pid_t pid, const std::string& name)
{
    std::string path = demo::program_path(name);
    auto until = Clock::now() + demo::patience();
    std::error_code error;
    while (std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) != path &&
        !demo::ended(demo::state_of(pid))) {
        if (Clock::now() >= until)
            return testing::AssertionFailure() << "the shell never became " << name;
        std::this_thread::sleep_for(demo::milliseconds(1));
    }
    return testing::AssertionSuccess();
}

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
            std::string name = c.name;
            if (lost == Lost::Full)
                launch.output_file = "/dev/full";
            else
                name = shell_closing_output(c.name, launch);
            Program p(name, launch);
            if (lost == Lost::Closed) {
                ASSERT_TRUE(became(p.pid(), c.name));
            }
            c.end(p);
            ASSERT_EQ(p.await_end(), demo::exited(1));
            EXPECT_EQ(p.errors(),
                std::string(c.name) + ": " + std::strerror(lost == Lost::Full ? ENOSPC : EBADF) + "\n");
        }
    }
}

}  // namespace
