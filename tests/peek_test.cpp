// posix-demos peek on the real programs: the variable a thread waits on, the signal sets, a stopped
// child, a niceness change; what it does with a stripped binary, a process that is gone, another
// user's process and one that ends while it looks; and the live view at a terminal.

#include <csignal>
#include <cstdio>
#include <regex>
#include <spawn.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "expect.hpp"
#include "kernel_view.hpp"
#include "processes.hpp"
#include "view_text.hpp"

namespace {

using demo::Clock;
using demo::Program;

// Takes the view of `pid` again and again until one of its lines matches `pattern`.
demo::Check await_view(pid_t pid, const std::string& pattern)
{
    const std::regex wanted(pattern);
    demo::KernelView kernel;
    std::string last;
    auto until = Clock::now() + demo::patience();
    do {
        last.clear();
        for (const demo::ViewLine& line : demo::view_lines(kernel.take(pid))) {
            if (std::regex_search(line.text, wanted))
                return {true, {}};
            last += line.text + "\n";
        }
        std::this_thread::sleep_for(demo::milliseconds(2));
    } while (Clock::now() < until);
    return {false, "no line of the view matched /" + pattern + "/; the last view was:\n" + last};
}

// Whether a line of `text` matches `pattern`.
bool has_line(const std::string& text, const std::string& pattern)
{
    const std::regex wanted(pattern);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, wanted))
            return true;
    return false;
}

std::string peek_output(const Program& peek)
{
    return peek.output() + (peek.errors().empty() ? "" : "\nstandard error: " + peek.errors());
}

// What the person does before looking again.
enum class Act { Look, Enter, CtrlC, StopChild };

struct Step {
    Act act;
    const char* then;  // a line the program prints once the step has taken effect ("": none)
    std::string view;  // a line of the view that must then come, as a regular expression
};

struct ViewCase {
    const char* program;
    std::vector<std::string> args;
    double time_scale;
    std::vector<Step> steps;
};

void PrintTo(const ViewCase& c, std::ostream* out)
{
    *out << c.program;
}

class Views : public testing::TestWithParam<ViewCase> { };

TEST_P(Views, ShowWhatTheKernelKnowsInTheProgramsTerms)
{
    const ViewCase& c = GetParam();
    // ThreadSanitizer runs a handler only at the program's next call into the C library, and
    // interrupt_tally's busy poll makes none.
    if (c.program == std::string("interrupt_tally") && demo::thread_sanitized())
        GTEST_SKIP() << "the handler never runs under ThreadSanitizer";
    demo::Launch launch;
    launch.args = c.args;
    launch.time_scale = c.time_scale;
    Program p(c.program, launch);
    for (const Step& step : c.steps) {
        switch (step.act) {
        case Act::Look:
            break;
        case Act::Enter:
            p.type("\n");
            break;
        case Act::CtrlC:
            p.interrupt();
            break;
        case Act::StopChild: {
            pid_t child = p.await_child();
            ASSERT_NE(child, 0) << c.program << " never forked";
            ASSERT_TRUE(shown(demo::await_spinning(child, "the child")));
            ASSERT_EQ(kill(child, SIGSTOP), 0);
            break;
        }
        }
        if (*step.then != '\0') {
            ASSERT_TRUE(shown(p.await_line(step.then)));
        }
        EXPECT_TRUE(shown(await_view(p.pid(), step.view)));
    }
}

const std::string thread = R"(^  thread \d+ +)";  // a thread that is not the main one
const std::string main_thread = R"(^  thread \d+ \(main\) +)";

INSTANTIATE_TEST_SUITE_P(Peek, Views,
    testing::Values(
        // The worker sleeps on the semaphore the gate holds.
        ViewCase{"enter_gate", {}, 0,
            {{Act::Enter, "Semaphore locked.", thread + "sleeping +waits on semaphore +switches"}}},
        // The eleventh take waits for good on the semaphore `s`.
        ViewCase{
            "permit_drain", {"11"}, 0, {{Act::Look, "", main_thread + "sleeping +waits on s +switches"}}},
        // Until the second thread signals (5 s here: the program's second runs slow), the first
        // waits on the condition variable while the main thread sleeps.
        ViewCase{"wait_wake_handoff", {}, 0.2,
            {{Act::Look, "Waiting on condition variable cond1",
                 thread + "sleeping +waits on cond1 +switches"},
                {Act::Look, "", main_thread + "sleeping +sleeps +switches"}}},
        // With its main thread ended, the process lives on in the worker, which waits on `s`.
        ViewCase{"interrupt_release", {}, 0,
            {{Act::Look, "", main_thread + "zombie +has ended"},
                {Act::Look, "", R"(^\d+ interrupt_release  sleeping)"},
                {Act::Look, "", thread + "sleeping +waits on s +switches"}}},
        // The handler is in place from the start; during its run SIGINT is blocked, and a second
        // Ctrl-C then waits pending.
        ViewCase{"interrupt_tally", {}, 0,
            {{Act::Look, "", "^  caught   (.* )?SIGINT( |$)"}, {Act::Look, "", main_thread + "running +runs"},
                {Act::CtrlC, "CTRL+C", "^  blocked  SIGINT$"},
                {Act::Look, "", main_thread + "sleeping +sleeps"}, {Act::CtrlC, "", "^  pending  SIGINT$"}}},
        // The stopped child shows under its parent, which waits for it.
        ViewCase{"child_exit_notice", {}, 0,
            {{Act::StopChild, "CHILD", R"(^  \d+ child_exit_notice \(child of \d+\)  stopped  niceness 0)"},
                {Act::Look, "", main_thread + "sleeping +waits for a child"}}},
        // Niceness 0 during the first pause, 10 after the report.
        ViewCase{"renice_self", {}, 10,
            {{Act::Look, "Sleeping1 ...", R"(^\d+ renice_self  sleeping  niceness 0  CPU)"},
                {Act::Look, "", main_thread + "sleeping +sleeps"},
                {Act::Look, "", R"(^\d+ renice_self  sleeping  niceness 10  CPU)"}}}),
    [](const testing::TestParamInfo<ViewCase>& info) { return std::string(info.param.program); });

// A copy of a program without its symbol table, started by the test itself and ended with it.
class StrippedRun {
public:
    explicit StrippedRun(const char* arg)
    {
        char* argv[] = {const_cast<char*>(POSIX_DEMOS_STRIPPED), const_cast<char*>(arg), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv, environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~StrippedRun()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    StrippedRun(const StrippedRun&) = delete;
    StrippedRun& operator=(const StrippedRun&) = delete;
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = 0;
};

TEST(Peek, AStrippedProgramShowsTheAddressItWaitsOn)
{
    StrippedRun drain("11");
    ASSERT_GT(drain.pid(), 0) << "could not start " << POSIX_DEMOS_STRIPPED;
    EXPECT_TRUE(shown(await_view(drain.pid(), main_thread + "sleeping +waits on 0x[0-9a-f]+ +switches")));
}

// A process that ends, threads and all, while it is being looked at is shown as far as it was seen,
// or as gone; never a crash. unguarded_tally starts and ends two threads within milliseconds.
TEST(Peek, AProcessThatEndsWhileItIsSeenIsNoCrash)
{
    int seen_with_threads = 0;
    for (int run = 0; run < 10; ++run) {
        demo::Launch launch;
        launch.terminal = false;
        Program tally("unguarded_tally", launch);
        demo::KernelView kernel;
        demo::Snapshot last;
        auto until = Clock::now() + demo::patience();
        while (tally.running() && Clock::now() < until) {
            last = kernel.take(tally.pid());
            demo::view_lines(last);
            seen_with_threads += last.processes.size() == 1 && last.processes[0].threads.size() == 3;
        }
        ASSERT_EQ(tally.await_end(), demo::exited(0));
        EXPECT_EQ(kernel.take(tally.pid()).failure, "no such process");
    }
    EXPECT_GT(seen_with_threads, 0) << "not one snapshot caught unguarded_tally with its two workers";
}

// A process ID that no process has: the one of a child that has ended and been reaped.
pid_t vacant_pid()
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

struct Misuse {
    std::vector<std::string> args;
    int status;
    std::string error;  // what standard error says, as a regular expression
};

TEST(Peek, MisuseAndMissingProcessesGetOneLineAndAStatus)
{
    std::string gone = std::to_string(vacant_pid());
    const Misuse cases[] = {
        {{"peek", gone}, 1, "^posix-demos peek: " + gone + ": no such process\n$"},
        {{"peek", gone, "--once"}, 1, "^posix-demos peek: " + gone + ": no such process\n$"},
        {{"peek"}, 2, "^usage: posix-demos peek PID"},
        {{"peek", "twelve"}, 2, "^usage: posix-demos peek PID"},
        {{"peek", "1", "2"}, 2, "^usage: posix-demos peek PID"},
        {{"peek", "1", "--later"}, 2, "^usage: posix-demos peek PID"},
        {{"peek", "99999999999999999999"}, 2, "is not a process ID"},
    };
    for (const Misuse& c : cases) {
        demo::Launch launch;
        launch.terminal = false;
        launch.args = c.args;
        Program peek("posix-demos", launch);
        std::string command = "posix-demos";
        for (const std::string& a : c.args)
            command += " " + a;
        EXPECT_EQ(peek.await_end(), demo::exited(c.status)) << command << ": " << peek_output(peek);
        EXPECT_TRUE(std::regex_search(peek.errors(), std::regex(c.error)))
            << command << ": " << peek.errors();
        EXPECT_EQ(peek.output(), "") << command;
    }
}

// As user nobody, peek sees a root program's states, switches and signal sets, and says that the
// calls its threads wait in are not shown to it, instead of guessing them.
TEST(Peek, AnotherUsersProcessIsShownWithWhatIsHiddenSaidInWords)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to run peek as another user";
    Program drain("permit_drain", {.args = {"11"}});
    ASSERT_TRUE(shown(await_view(drain.pid(), "waits on s")));
    demo::Launch launch;
    launch.terminal = false;
    launch.unprivileged = true;
    launch.args = {"peek", std::to_string(drain.pid())};
    Program peek("posix-demos", launch);
    ASSERT_EQ(peek.await_end(), demo::exited(0)) << peek_output(peek);
    std::string view = peek.output();
    EXPECT_TRUE(has_line(view, R"(^\d+ permit_drain  sleeping  niceness 0)")) << view;
    EXPECT_TRUE(has_line(view, main_thread + "sleeping +call not shown +switches \\d+")) << view;
    EXPECT_NE(view.find("shown only to the process's owner and to root"), std::string::npos) << view;
    EXPECT_TRUE(has_line(view, "^  pending  none$")) << view;
    EXPECT_TRUE(has_line(view, "^  caught   ")) << view;
}

// At a terminal: the view is redrawn in place, what changed is marked, and it ends on q, on Ctrl-C or
// with the process, leaving the terminal as it found it and the last view on the screen.
struct Live {
    const char* name;
    const char* no_color;  // NO_COLOR's value
    enum { Q, CtrlC, ProcessEnds } end;
};

TEST(Peek, TheLiveViewRedrawsMarksChangesAndLeavesTheTerminalAsItWas)
{
    const Live cases[] = {{"q", "", Live::Q}, {"Ctrl-C, no colour", "1", Live::CtrlC},
        {"the process ends", "", Live::ProcessEnds}};
    for (const Live& c : cases) {
        SCOPED_TRACE(c.name);
        Program drain("permit_drain", {.args = {"11"}, .terminal = false});
        ASSERT_TRUE(shown(await_view(drain.pid(), "waits on s")));
        demo::Launch launch;
        launch.args = {"peek", std::to_string(drain.pid())};
        launch.env = {{"TERM", "xterm"}, {"NO_COLOR", c.no_color}};
        Program peek("posix-demos", launch);
        ASSERT_TRUE(shown(peek.await_text("\x1b[?1049h")));  // the alternate screen
        // A stop shows as a change, marked on the next frames.
        drain.signal(SIGSTOP);
        std::string mark = *c.no_color == '\0'
            ? "\x1b[1;33m" + std::to_string(drain.pid()) + " permit_drain  stopped"
            : "* " + std::to_string(drain.pid()) + " permit_drain  stopped";
        ASSERT_TRUE(shown(peek.await_text(mark)));
        ASSERT_TRUE(shown(peek.await_text("\x1b[H")));  // and redrawn again after that
        switch (c.end) {
        case Live::Q:
            peek.type("q");
            break;
        case Live::CtrlC:
            peek.interrupt();
            break;
        case Live::ProcessEnds:
            drain.signal(SIGKILL);
            break;
        }
        ASSERT_EQ(peek.await_end(demo::seconds(5)), demo::exited(0)) << peek_output(peek);
        std::string screen = peek.output();
        std::size_t left = screen.rfind("\x1b[?1049l");
        ASSERT_NE(left, std::string::npos) << "the alternate screen was never left";
        EXPECT_NE(screen.find("\x1b[?25h"), std::string::npos) << "the cursor was left hidden";
        // After it, the last view in plain text.
        std::string after = screen.substr(left);
        EXPECT_NE(after.find(" permit_drain  "), std::string::npos) << after;
        EXPECT_EQ(after.find("\x1b[1;33m"), std::string::npos) << after;
        if (c.end == Live::ProcessEnds) {
            EXPECT_NE(after.find(std::to_string(drain.pid()) + " has ended."), std::string::npos) << after;
        }
        if (*c.no_color != '\0') {
            EXPECT_EQ(screen.find("\x1b[1;33m"), std::string::npos) << "colour under NO_COLOR";
        }
    }
}

}  // namespace
