// timings — the figures that no ready-made tool measures, taken through the test driver at a
// pseudo-terminal and in real time (nothing is scaled): how soon a signal shows on the screen, how
// punctual the alarms are, and how soon a program that does not end at once shows that it runs.
// bench/run calls it and puts the markdown table rows it prints into its report.
//
//   timings latency            interrupt key to interrupt_release's line, SIGTERM to the child to
//                              child_exit_notice's "CHILD": median and worst of 30 runs each
//   timings alarms             replaced_alarm's handler line after start (10 runs) and
//                              rearmed_alarm's period (10 periods): mean and worst deviation
//   timings startup BASE_KIB   launch to the first sign of life, median of 30 runs, and peak
//                              resident memory, each against the baseline program (BASE_KIB is
//                              the baseline's peak, which only a tool that waits for its end sees)
//   timings peek               `posix-demos peek PID --once` as a whole process against enter_gate
//                              with its gate held (median and worst of 50 runs), and the processor
//                              share of the live view at a terminal over 10 seconds

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver.hpp"
#include "processes.hpp"

using demo::Clock;
using demo::Program;

namespace {

constexpr int runs = 30;

double ms(Clock::duration span)
{
    return std::chrono::duration<double, std::milli>(span).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double mean(const std::vector<double>& values)
{
    double total = 0;
    for (double v : values)
        total += v;
    return total / static_cast<double>(values.size());
}

// The deviation farthest from zero, with its sign: late is positive.
double worst(const std::vector<double>& values)
{
    return *std::max_element(
        values.begin(), values.end(), [](double a, double b) { return std::fabs(a) < std::fabs(b); });
}

void need(const demo::Check& check)
{
    if (!check) {
        std::fprintf(stderr, "timings: %s\n", check.what.c_str());
        std::exit(1);
    }
}

// Looks every tenth of a millisecond (the driver's await_caught looks every 2, too seldom for a
// start-up of about one): often enough for figures in milliseconds, and seldom enough to leave the
// processor to the program that is starting.
template <class Ready> void poll_until(const char* what, Ready ready)
{
    auto until = Clock::now() + demo::seconds(10);
    while (!ready()) {
        if (Clock::now() > until) {
            std::fprintf(stderr, "timings: waited 10 s in vain for %s\n", what);
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

// The process's peak resident memory in KiB. Any of its threads tells it; the first one may have
// ended already (interrupt_release's has).
long peak_kib(pid_t pid)
{
    long peak = 0;
    std::error_code ignored;
    for (const auto& task :
        std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        std::ifstream file(task.path() / "status");
        for (std::string line; std::getline(file, line);)
            if (line.starts_with("VmHWM:"))
                peak = std::max(peak, std::strtol(line.c_str() + 6, nullptr, 10));
    }
    return peak;
}

// Lets a program that has shown it is ready reach the call it waits in.
void settle()
{
    std::this_thread::sleep_for(demo::milliseconds(20));
}

void latency()
{
    std::vector<double> release, notice;
    for (int i = 0; i < runs; ++i) {
        Program p("interrupt_release");
        // Ready once its handler is in place and the entry point's thread has ended (a thread group
        // whose first thread has ended shows as a zombie while the others live on).
        need(p.await_caught(SIGINT));
        poll_until(
            "interrupt_release's first thread to end", [&] { return demo::state_of(p.pid()).state == 'Z'; });
        settle();
        auto start = Clock::now();
        p.interrupt();
        need(p.await_line("I had to wait until your signal released me!"));
        release.push_back(ms(Clock::now() - start));
    }
    for (int i = 0; i < runs; ++i) {
        Program p("child_exit_notice");
        pid_t child = p.await_child();
        if (child == 0) {
            std::fprintf(stderr, "timings: child_exit_notice started no child\n");
            std::exit(1);
        }
        settle();
        auto start = Clock::now();
        kill(child, SIGTERM);
        need(p.await_line("CHILD"));
        notice.push_back(ms(Clock::now() - start));
        need(p.await_line("val = 15"));
    }
    std::printf("| interrupt key → `interrupt_release`'s line | %.2f | %.2f | %d |\n", median(release),
        *std::max_element(release.begin(), release.end()), runs);
    std::printf("| `SIGTERM` to the child → `child_exit_notice`'s \"CHILD\" | %.2f | %.2f | %d |\n",
        median(notice), *std::max_element(notice.begin(), notice.end()), runs);
}

void alarms()
{
    constexpr int count = 10;
    const char* handler_line = "Inside handler function";
    std::vector<double> replaced;
    for (int i = 0; i < count; ++i) {
        auto start = Clock::now();
        Program p("replaced_alarm");
        need(p.await_line(handler_line, demo::seconds(5)));
        replaced.push_back(ms(Clock::now() - start) - 1000);
    }
    std::vector<double> periods;
    auto start = Clock::now();
    Program p("rearmed_alarm");
    need(p.await_line(handler_line, demo::seconds(5)));
    auto last = Clock::now();
    double first = ms(last - start) - 2000;
    for (int i = 0; i < count; ++i) {
        need(p.await_line(handler_line, demo::seconds(5)));
        auto now = Clock::now();
        periods.push_back(ms(now - last) - 2000);
        last = now;
    }
    std::printf("| `replaced_alarm`: handler line after start (1 s) | %+.2f | %+.2f | %d runs |\n",
        mean(replaced), worst(replaced), count);
    std::printf(
        "| `rearmed_alarm`: first handler line after start (2 s) | %+.2f | %+.2f | 1 run |\n", first, first);
    std::printf("| `rearmed_alarm`: period (2 s) | %+.2f | %+.2f | %d periods |\n", mean(periods),
        worst(periods), count);
}

// What shows first that a program that does not end at once is up and running.
struct Start {
    const char* name;  // as the driver finds it, next to the programs
    int handler;       // 0: its first line; else: the moment it catches this signal
    const char* sign;
};

const Start starts[] = {
    {"../bench/baseline", 0, "to its line, at a terminal"},
    {"wait_wake_handoff", 0, "to its first line, at a terminal"},
    {"even_odd_turns", 0, "to its first line, at a terminal"},
    {"replaced_alarm", 0, "to its first line, at a terminal"},
    {"rearmed_alarm", 0, "to its first line, at a terminal"},
    {"renice_self", 0, "to its first line, at a terminal"},
    {"interrupt_release", SIGINT, "until its `SIGINT` handler is in place"},
    {"interrupt_tally", SIGINT, "until its `SIGINT` handler is in place"},
    {"child_exit_notice", SIGCHLD, "until its `SIGCHLD` handler is in place"},
};

// Milliseconds from launch to the program's first sign of life; with `peak`, also its peak memory
// a little later, once its threads or its child have started.
double time_to_sign(const Start& s, long* peak = nullptr)
{
    auto start = Clock::now();
    Program p(s.name);
    if (s.handler == 0)
        need(p.await_lines(1));
    else
        poll_until(s.name, [&] { return demo::in_signal_set(p.pid(), "SigCgt", s.handler); });
    double took = ms(Clock::now() - start);
    if (peak != nullptr) {
        std::this_thread::sleep_for(demo::milliseconds(300));
        *peak = peak_kib(p.pid());
    }
    return took;
}

void startup(long baseline_kib)
{
    std::vector<const Start*> built;
    for (const Start& s : starts) {
        try {
            demo::program_path(s.name);  // throws when it is not there
            built.push_back(&s);
        } catch (const std::runtime_error&) {
            std::printf("| `%s` | not built | | | | |\n", s.name);
        }
    }
    // Round by round, so that a change in the machine's load weighs on every program alike; round 0
    // warms the caches and is not counted.
    std::vector<std::vector<double>> times(built.size());
    for (int round = 0; round <= runs; ++round)
        for (std::size_t k = 0; k < built.size(); ++k) {
            double took = time_to_sign(*built[k]);
            if (round > 0)
                times[k].push_back(took);
        }
    double baseline_ms = median(times[0]);
    for (std::size_t k = 0; k < built.size(); ++k) {
        const Start& s = *built[k];
        bool is_baseline = k == 0;
        long peak = baseline_kib;  // the baseline has ended before its memory could be read
        if (!is_baseline)
            time_to_sign(s, &peak);
        double took = median(times[k]);
        std::printf("| %s | %s | %.2f | %.2f | %ld | %.2f |\n",
            is_baseline ? "baseline" : ("`" + std::string(s.name) + "`").c_str(), s.sign, took,
            took / baseline_ms, peak, static_cast<double>(peak) / static_cast<double>(baseline_kib));
    }
}

}  // namespace

void peek()
{
    Program gate("enter_gate");
    need(gate.await_line("Starting thread, semaphore is unlocked."));
    gate.type("\n");
    need(gate.await_line("Semaphore locked."));
    settle();
    std::string command = demo::program_path("posix-demos");
    std::string pid = std::to_string(gate.pid());
    // Each run of peek beside a run of `posix-demos --version`, which starts and ends the same
    // executable doing nothing: the difference is the snapshot's own cost.
    auto run = [&command](std::vector<std::string> args) {
        args.insert(args.begin(), command);
        std::vector<char*> argv;
        argv.reserve(args.size() + 1);
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        auto start = Clock::now();
        pid_t child = 0;
        int status = 0;
        if (posix_spawn(&child, argv[0], &quiet, nullptr, argv.data(), environ) != 0 ||
            waitpid(child, &status, 0) != child || status != 0) {
            std::fprintf(stderr, "timings: %s %s failed\n", command.c_str(), args[1].c_str());
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&quiet);
        return ms(Clock::now() - start);
    };
    std::vector<double> whole, empty;
    for (int i = 0; i < 50; ++i) {
        whole.push_back(run({"peek", pid, "--once"}));
        empty.push_back(run({"--version"}));
    }
    std::sort(whole.begin(), whole.end());
    std::printf(
        "| one snapshot, `posix-demos peek PID --once`, whole process | %.2f ms median | %.2f ms worst |\n",
        median(whole), whole.back());
    std::printf(
        "| `posix-demos --version`, the same executable doing nothing | %.2f ms median | |\n", median(empty));

    demo::Launch launch;
    launch.args = {"peek", pid};
    launch.env = {{"TERM", "xterm"}};
    Program live("posix-demos", launch);
    need(live.await_text("\x1b[?1049h"));
    long before = demo::state_of(live.pid()).ticks;
    auto start = Clock::now();
    std::this_thread::sleep_for(demo::seconds(10));
    long used = demo::state_of(live.pid()).ticks - before;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    live.type("q");
    need({live.await_end() == demo::exited(0), "the live view did not end on q"});
    std::printf(
        "| the live view at a terminal, 10 frames a second | %.2f %% of a processor | over %.0f s |\n",
        100.0 * static_cast<double>(used) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds, seconds);
}

int main(int argc, char** argv)
{
    std::string what = argc > 1 ? argv[1] : "";
    if (what == "latency")
        latency();
    else if (what == "alarms")
        alarms();
    else if (what == "peek")
        peek();
    else if (what == "startup" && argc == 3)
        startup(std::strtol(argv[2], nullptr, 10));
    else {
        std::fprintf(stderr, "usage: timings latency | alarms | peek | startup BASELINE_PEAK_KIB\n");
        return 2;
    }
    return 0;
}
