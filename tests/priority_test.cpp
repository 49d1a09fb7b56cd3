// The niceness change and the niceness query, each alone and pointed at each other.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Program;

// renice_self's two 10-second pauses become half a second each. Each pause has to outlast one thing
// the test does in it: start show_niceness and let it query (a fork, an exec and one system call), or
// see the niceness change and send a signal. That takes milliseconds, and some tens of milliseconds
// on two cores kept busy by other builds and tests: half a second leaves a wide margin.
constexpr double pause_scale = 20;

std::string report(pid_t pid, int niceness)
{
    return "Process (" + std::to_string(pid) + ") Priority is " + std::to_string(niceness) + ".";
}

// Runs show_niceness as a person would at a second terminal and checks its one report line.
testing::AssertionResult show_niceness_reports(pid_t pid, int niceness)
{
    Program query("show_niceness", {.args = {std::to_string(pid)}, .terminal = false});
    demo::Ending end = query.await_end();
    if (end == demo::exited(0) && query.output() == report(pid, niceness) + "\n" && query.errors().empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
        << "show_niceness " << pid << " " << end << " and printed \"" << query.output() << query.errors()
        << "\", not \"" << report(pid, niceness) << "\"";
}

// Waits until the process `pid` runs at `niceness`, as seen from outside.
testing::AssertionResult comes_to_niceness(pid_t pid, int niceness)
{
    auto until = demo::Clock::now() + demo::patience();
    int seen = 0, error = 0;
    for (;;) {
        errno = 0;
        seen = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
        error = errno;
        if (seen == niceness && error == 0)
            return testing::AssertionSuccess();
        if (error != 0 || demo::Clock::now() >= until)
            break;
        std::this_thread::sleep_for(demo::milliseconds(1));
    }
    return testing::AssertionFailure()
        << "process " << pid << " never came to niceness " << niceness << ": "
        << (error != 0 ? std::strerror(error) : "it stayed at " + std::to_string(seen));
}

// Whether a child of this test can become user "nobody", as an unprivileged run needs.
bool can_become_nobody()
{
    pid_t child = fork();
    if (child == 0)
        _exit(setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A process that only waits, for show_niceness to look at; killed and reaped when the test is done.
class Idle {
public:
    Idle() : pid_(fork())
    {
        if (pid_ == 0)
            for (;;)
                pause();
    }
    ~Idle()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Idle(const Idle&) = delete;
    Idle& operator=(const Idle&) = delete;

    pid_t pid() const { return pid_; }
    int renice(int niceness) const
    {
        return setpriority(PRIO_PROCESS, static_cast<id_t>(pid_), niceness) == 0 ? 0 : errno;
    }

private:
    pid_t pid_;
};

TEST(ReniceSelf, AtATerminalShowNicenessSeesTheStartingNicenessThenTen)
{
    // Started at 3, not 0: a query that gave its own niceness instead of the target's would show.
    Program renice("renice_self", {.niceness = 3, .time_scale = pause_scale});
    ASSERT_TRUE(shown(renice.await_line("Sleeping1 ...")));
    EXPECT_TRUE(show_niceness_reports(renice.pid(), 3));

    ASSERT_TRUE(shown(renice.await_line(report(renice.pid(), 10))));
    EXPECT_TRUE(renice.running())
        << "at a terminal the report shows at once, with the second pause still to come";
    EXPECT_TRUE(show_niceness_reports(renice.pid(), 10));

    EXPECT_EQ(renice.await_end(), demo::exited(0));
    EXPECT_EQ(renice.lines(), (std::vector<std::string>{"Sleeping1 ...", report(renice.pid(), 10)}));
}

TEST(ReniceSelf, OnAPipeBothLinesWaitInTheBufferUntilTheEnd)
{
    struct Case {
        const char* how;
        bool interrupted;  // Ctrl-C in the second pause, after the report was printed
    };
    const Case cases[] = {{"left to end", false}, {"interrupted", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        Program renice("renice_self", {.terminal = false, .niceness = 0, .time_scale = pause_scale});
        ASSERT_TRUE(comes_to_niceness(renice.pid(), 10));
        // It is in its second pause now, both lines printed into the stream's buffer.
        EXPECT_EQ(renice.output(), "");
        if (c.interrupted) {
            renice.interrupt();
            EXPECT_EQ(renice.await_end(), demo::killed_by(SIGINT));
            EXPECT_EQ(renice.output(), "");
        } else {
            EXPECT_EQ(renice.await_end(), demo::exited(0));
            EXPECT_EQ(renice.lines(), (std::vector<std::string>{"Sleeping1 ...", report(renice.pid(), 10)}));
        }
        EXPECT_EQ(renice.errors(), "");
    }
}

TEST(ReniceSelf, AnUnprivilegedUserIsRefusedAndReportsTheNicenessItKept)
{
    rlimit limit{};
    getrlimit(RLIMIT_NICE, &limit);
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= 10)
        GTEST_SKIP() << "the nice resource limit (" << limit.rlim_cur
                     << ") lets any user go down to niceness 10, so nothing would be refused";
    bool root = geteuid() == 0;
    if (root && !can_become_nobody())
        GTEST_SKIP() << "this test runs as root and cannot become user nobody here";

    // From 15 to 10 raises the priority, which an unprivileged process may not do.
    Program renice(
        "renice_self", {.terminal = false, .niceness = 15, .unprivileged = root, .time_scale = pause_scale});
    EXPECT_EQ(renice.await_end(), demo::exited(0));
    EXPECT_EQ(renice.lines(), (std::vector<std::string>{"Sleeping1 ...", report(renice.pid(), 15)}));
    EXPECT_EQ(renice.errors(), "");
}

TEST(ShowNiceness, AnswersEachKindOfArgument)
{
    Idle at7;
    ASSERT_GT(at7.pid(), 0);
    ASSERT_EQ(at7.renice(7), 0);

    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    // Each query runs at niceness 4, so that a report of its own niceness is told from the others.
    const std::string own = report(0, 4) + "\n";
    auto no_process = [](const char* id) {
        return "getpriority(PRIO_PROCESS, " + std::string(id) + "): No such process\n";
    };
    const Case cases[] = {
        {{}, 255, "", ""},
        {{"0", "0"}, 255, "", ""},
        {{"0"}, 0, own, ""},
        {{"abc"}, 0, own, ""},
        {{"--5"}, 0, own, ""},
        {{std::to_string(at7.pid())}, 0, report(at7.pid(), 7) + "\n", ""},
        // Above the largest process ID Linux can ever hand out.
        {{" \t+4194304xyz"}, 1, "", no_process("4194304")},
        {{"-5"}, 1, "", no_process("-5")},
        {{"2147483648"}, 1, "", no_process("2147483647")},
        {{"99999999999"}, 1, "", no_process("2147483647")},
        {{"4294967296"}, 1, "",
            no_process("2147483647")},  // saturates, rather than wrapping round to 0 (itself)
        {{"-2147483648"}, 1, "", no_process("-2147483648")},
        {{"-99999999999999999999999999"}, 1, "", no_process("-2147483648")},
    };
    for (const Case& c : cases) {
        std::string shown_args;
        for (const std::string& a : c.args)
            shown_args += " \"" + a + "\"";
        SCOPED_TRACE("show_niceness" + shown_args);
        Program query("show_niceness", {.args = c.args, .terminal = false, .niceness = 4});
        EXPECT_EQ(query.await_end(), demo::exited(c.status));
        EXPECT_EQ(query.output(), c.out);
        EXPECT_EQ(query.errors(), c.err);
    }
}

TEST(ShowNiceness, ReportsANicenessOfMinusOneAsSuch)
{
    Idle target;
    ASSERT_GT(target.pid(), 0);
    if (int error = target.renice(-1))
        GTEST_SKIP() << "this test may not lower a niceness below 0: " << std::strerror(error);
    EXPECT_TRUE(show_niceness_reports(target.pid(), -1));
}

}  // namespace
