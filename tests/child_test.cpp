// The two programs with a child: one ends its child with SIGINT and reports why it ended, the other
// is told of its child's stops, continues and end by SIGCHLD. Both children must really spin.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expect.hpp"
#include "processes.hpp"

namespace {

using demo::Launch;
using demo::Program;

// A fresh file for the fault library's record of kill() calls.
std::string kill_log(const std::string& test)
{
    std::string path = testing::TempDir() + "posix-demos-kills-" + test + "-" + std::to_string(getpid());
    std::remove(path.c_str());
    return path;
}

std::string contents(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string report(int sig)
{
    return std::string("Child term due to: ") + strsignal(sig) + "\n";
}

TEST(InterruptChild, EndsItsChildWithAnInterruptAndSaysSoOnStandardError)
{
    std::string log = kill_log("interrupt");
    Program p("interrupt_child", {.terminal = false, .kill_log = log});
    ASSERT_EQ(p.await_end(), demo::exited(0));
    EXPECT_EQ(p.errors(), report(SIGINT));
    EXPECT_EQ(p.output(), "");

    // One kill, aimed at one process that is not the program itself: never 0 or -1.
    pid_t target = 0;
    int sig = 0;
    std::string kills = contents(log);
    ASSERT_TRUE(std::istringstream(kills) >> target >> sig) << kills;
    EXPECT_EQ(kills, std::to_string(target) + " " + std::to_string(SIGINT) + "\n");
    EXPECT_GT(target, 1);
    EXPECT_NE(target, p.pid());
    std::remove(log.c_str());
}

TEST(InterruptChild, WithTheInterruptIgnoredTheChildSpinsUntilEndedAnotherWay)
{
    Program p("interrupt_child", {.terminal = false, .ignored = {SIGINT}});
    pid_t child = p.await_child();
    ASSERT_NE(child, 0) << "no child came";
    // A child whose loop the optimiser deleted would run into the parent's code and end at once.
    ASSERT_TRUE(shown(demo::await_spinning(child, "the child")));
    EXPECT_TRUE(p.running());
    EXPECT_EQ(p.output() + p.errors(), "");

    kill(child, SIGTERM);
    ASSERT_EQ(p.await_end(), demo::exited(0));
    EXPECT_EQ(p.errors(), report(SIGTERM));
    EXPECT_EQ(p.output(), "");
}

// A parent that leaves SIGCHLD ignored for its children (the setting survives exec) would have the
// kernel reap the child at once, and the wait would find no status to report.
TEST(InterruptChild, StartedWithChildEndsIgnoredItStillReportsTheInterrupt)
{
    Program p("interrupt_child", {.terminal = false, .ignored = {SIGCHLD}});
    ASSERT_EQ(p.await_end(), demo::exited(0));
    EXPECT_EQ(p.errors(), report(SIGINT));
    EXPECT_EQ(p.output(), "");
}

// A spinning child whose parent is killed from outside must not spin on for ever, unseen.
TEST(ParentEndedFromOutside, TakesItsSpinningChildWithIt)
{
    struct Case {
        const char* name;
        std::vector<int> ignored;  // interrupt_child's child survives the parent's SIGINT only so
        int sig;                   // sent to the parent
    };
    const Case cases[] = {
        {"child_exit_notice", {}, SIGKILL},
        {"child_exit_notice", {}, SIGTERM},
        {"interrupt_child", {SIGINT}, SIGKILL},
        {"interrupt_child", {SIGINT}, SIGTERM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " sent " + strsignal(c.sig));
        Program p(c.name, {.terminal = false, .ignored = c.ignored});
        pid_t child = p.await_child();
        ASSERT_NE(child, 0) << "no child came";
        ASSERT_TRUE(shown(demo::await_spinning(child, "the child")));
        p.signal(c.sig);
        EXPECT_EQ(p.await_end(), demo::killed_by(c.sig));
        EXPECT_TRUE(shown(demo::await_process(child, demo::ended,
            "the child still ran a second after its parent", demo::patience(demo::seconds(1)))));
        EXPECT_EQ(p.output() + p.errors(), "");
    }
}

TEST(ChildExitNotice, EachStopContinueAndEndOfTheChildIsOneNoticeAndFiveMore)
{
    struct Case {
        std::vector<int> signals;  // sent to the child in turn, each after the notice of the last
        std::string output;
    };
    const Case cases[] = {
        {{SIGTERM}, "CHILD\nval = 15\n"},
        {{SIGSTOP, SIGCONT, SIGTERM}, "CHILD\nCHILD\nCHILD\nval = 25\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        Program p("child_exit_notice", {.terminal = false});
        pid_t child = p.await_child();
        ASSERT_NE(child, 0) << "no child came";
        // A child whose loop the optimiser deleted would run into the parent's code, print its own
        // "val = 7" and end: the parent would then report without being asked to.
        ASSERT_TRUE(shown(demo::await_spinning(child, "the child")));
        EXPECT_EQ(p.output(), "");

        for (int sig : c.signals) {
            // The parent is back in its wait at once after a notice, unless a sanitizer's
            // bookkeeping holds it up; a notice that comes before would wait for a later one.
            ASSERT_TRUE(shown(demo::await_asleep(p.pid(), "the parent")));
            kill(child, sig);
            ASSERT_TRUE(shown(p.await_line("CHILD")));
        }
        ASSERT_EQ(p.await_end(), demo::exited(0));
        // The child's own subtraction never shows: 10, plus 5 for each notice.
        EXPECT_EQ(p.output(), c.output);
        EXPECT_EQ(p.errors(), "");
    }
}

TEST(ChildExitNotice, TheInterruptKeyEndsParentAndChildWithNothingPrinted)
{
    Program p("child_exit_notice");
    pid_t child = p.await_child();
    ASSERT_NE(child, 0) << "no child came";
    ASSERT_TRUE(shown(demo::await_spinning(child, "the child")));
    p.interrupt();
    EXPECT_EQ(p.await_end(), demo::killed_by(SIGINT));
    EXPECT_TRUE(shown(demo::await_ended(child, "the child")));
    EXPECT_EQ(p.output(), "");
}

TEST(ForkFailure, IsReportedWithStatusOneAndNoSignalIsSent)
{
    for (const char* name : {"interrupt_child", "child_exit_notice"}) {
        SCOPED_TRACE(name);
        std::string log = kill_log(name);
        Program p(name, {.terminal = false, .faults = "fork#1=EAGAIN", .kill_log = log});
        EXPECT_EQ(p.await_end(), demo::exited(1));
        EXPECT_EQ(p.errors(), std::string("fork: ") + std::strerror(EAGAIN) + "\n");
        EXPECT_EQ(p.output(), "");
        EXPECT_EQ(contents(log), "") << "kill() calls as \"<pid> <signal>\"";
        std::remove(log.c_str());
    }
}

}  // namespace
