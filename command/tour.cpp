// posix-demos tour — plays the fourteen programs one after another, as a teacher would in front of a
// class.
//
// Each scene says what to watch, starts one program at a pseudo-terminal with its output shown live
// (indented, "  | "), steers it as a person would (Enter, Ctrl-C, kill to a child, show_niceness at a
// running renice_self) and prints each of those steps as "[tour] ...", then says what was seen and
// checks it against what the program promises. A scene whose program did not keep its promise is
// marked FAILED, and the tour then ends with status 1.
//
//   posix-demos tour           every scene; at a terminal it waits for Enter between scenes, otherwise
//                              (input and screen not a terminal, as in a test) it plays straight through
//   posix-demos tour NAME...   only the scenes of those programs
//   posix-demos tour --list    the scenes, in order
//
// Handlers that sleep 100 seconds, ten-second pauses and alarms are played with time running faster,
// and the scene says so. Ctrl-C ends the tour and every program it started.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include "driver.hpp"
#include "processes.hpp"

namespace {

using demo::Check;
using demo::Clock;
using demo::Ending;
using demo::Launch;
using demo::milliseconds;
using demo::Program;

template <typename... Values> std::string format(const char* pattern, Values... values)
{
    char text[1024];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// The number after `prefix` when it fills the rest of the line, written as "%d" writes it.
std::optional<long long> number_after(const std::string& line, const std::string& prefix)
{
    if (!line.starts_with(prefix))
        return std::nullopt;
    std::string digits = line.substr(prefix.size());
    std::size_t first = digits.starts_with('-') ? 1 : 0;
    if (digits.size() == first || digits.find_first_not_of("0123456789", first) != std::string::npos)
        return std::nullopt;
    errno = 0;
    long long value = std::strtoll(digits.c_str(), nullptr, 10);
    return errno == 0 ? std::optional(value) : std::nullopt;
}

// 20000000 reads better as 20,000,000 on a projector.
std::string grouped(long long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<std::size_t>(at), ",");
    return n < 0 ? "-" + digits : digits;
}

// ---- The screen ----------------------------------------------------------------------------------

// What the programs print comes through this relay, one pipe per program, so that it stands indented
// beside the tour's own lines and never in the middle of one; a program "in a second terminal" has
// its name before its lines. A program that floods the screen (a worker printing as fast as it can)
// is cut short: after a few lines the relay only counts, and the next line the tour says begins with
// how many lines went by and the last few of them.
class Screen {
public:
    Screen()
    {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::perror("pipe");
            std::exit(1);
        }
        relay_ = std::thread([this] { relay(); });
    }
    ~Screen()
    {
        {
            std::lock_guard hold(lock_);
            stopping_ = true;
        }
        wake();
        relay_.join();
        close(wake_[0]);
        close(wake_[1]);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // A new program's output: gives back the descriptor for it to be mirrored to.
    int open(const std::string& label)
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        std::lock_guard hold(lock_);
        sources_.push_back({ends[0], ends[1], label.empty() ? "  | " : "  " + label + " | ", ""});
        wake();
        return ends[1];
    }

    // Once the program has ended and nothing writes there any more: shows what is left of it,
    // a last line without a newline included.
    void finish(int mirror)
    {
        settle();
        std::lock_guard hold(lock_);
        report_skipped();
        if (Source* source = find(mirror)) {
            drain(*source);
            if (!source->partial.empty())
                std::printf("%s%s   [the line ends here, cut off]\n", source->prefix.c_str(),
                    source->partial.c_str());
            source->partial.clear();
        }
        std::fflush(stdout);
    }

    void close_source(int mirror)
    {
        finish(mirror);
        std::lock_guard hold(lock_);
        if (Source* source = find(mirror)) {
            close(source->read_end);
            close(source->write_end);
            sources_.erase(sources_.begin() + (source - sources_.data()));
        }
        wake();
    }

    // A line of the tour's own, after everything the programs printed before it.
    void say(const std::string& text)
    {
        settle();
        std::lock_guard hold(lock_);
        report_skipped();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

    // How many lines of a program to show between two lines of the tour's own.
    void limit(int lines)
    {
        std::lock_guard hold(lock_);
        screenful_ = lines > 0 ? lines : usual_screenful;
    }

private:
    static constexpr int usual_screenful = 24;
    static constexpr std::size_t tail = 3;

    struct Source {
        int read_end, write_end;
        std::string prefix, partial;
    };

    void wake() const
    {
        if (write(wake_[1], "x", 1) < 0) {
            // Full: the relay has a wake-up waiting already.
        }
    }

    Source* find(int end)
    {
        for (Source& source : sources_)
            if (source.write_end == end || source.read_end == end)
                return &source;
        return nullptr;
    }

    // Waits (briefly) until everything in the pipes has been shown or counted.
    void settle()
    {
        auto until = Clock::now() + milliseconds(300);
        while (Clock::now() < until) {
            {
                std::lock_guard hold(lock_);
                bool empty = true;
                for (const Source& source : sources_) {
                    int waiting = 0;
                    if (ioctl(source.read_end, FIONREAD, &waiting) == 0 && waiting > 0)
                        empty = false;
                }
                if (empty)
                    return;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    void relay()
    {
        std::vector<pollfd> ready;
        for (;;) {
            ready.assign(1, {wake_[0], POLLIN, 0});
            {
                std::lock_guard hold(lock_);
                if (stopping_)
                    return;
                for (const Source& source : sources_)
                    ready.push_back({source.read_end, POLLIN, 0});
            }
            if (poll(ready.data(), ready.size(), -1) < 0 && errno != EINTR)
                return;
            char byte;
            while (read(wake_[0], &byte, 1) == 1) { }
            // Read under the lock, so that settle() never sees empty pipes while bytes are in flight
            // between a pipe and the screen. A pipe closed meanwhile is no longer found.
            std::lock_guard hold(lock_);
            for (std::size_t k = 1; k < ready.size(); ++k)
                if (ready[k].revents != 0)
                    if (Source* source = find(ready[k].fd))
                        drain(*source);
            std::fflush(stdout);
        }
    }

    void drain(Source& source)
    {
        char buffer[65536];
        for (;;) {
            ssize_t got = read(source.read_end, buffer, sizeof buffer);
            if (got <= 0)
                return;
            for (ssize_t k = 0; k < got; ++k) {
                char c = buffer[k];
                if (c == '\r')
                    continue;
                if (c != '\n') {
                    source.partial.push_back(c);
                    continue;
                }
                std::string line = source.prefix + source.partial;
                source.partial.clear();
                if (shown_ < screenful_) {
                    std::printf("%s\n", line.c_str());
                    ++shown_;
                } else {
                    ++skipped_;
                    last_.push_back(std::move(line));
                    if (last_.size() > tail)
                        last_.pop_front();
                }
            }
        }
    }

    void report_skipped()
    {
        if (skipped_ > 0) {
            long long before = skipped_ - static_cast<long long>(last_.size());
            if (before > 0)
                std::printf("  ... %s more lines went by ...\n", grouped(before).c_str());
            for (const std::string& line : last_)
                std::printf("%s\n", line.c_str());
        }
        skipped_ = 0;
        last_.clear();
        shown_ = 0;
    }

    int wake_[2] = {-1, -1};
    std::mutex lock_;
    bool stopping_ = false;
    std::vector<Source> sources_;
    int screenful_ = usual_screenful;
    int shown_ = 0;
    long long skipped_ = 0;
    std::deque<std::string> last_;
    std::thread relay_;
};

// Made on first use, so that `tour --list` starts no relay.
Screen& screen()
{
    static Screen shared;
    return shared;
}

void say(const std::string& text)
{
    screen().say(text);
}
void act(const std::string& text)
{
    screen().say("[tour] " + text);
}

// ---- Programs on stage ---------------------------------------------------------------------------

// The process groups of the programs running now. If the tour itself is ended by a signal (the viewer
// presses Ctrl-C), the handler ends them, since each runs in a session of its own that the viewer's
// keys never reach.
constexpr int stage_size = 4;
volatile std::sig_atomic_t on_stage[stage_size] = {};

void end_the_show(int sig)
{
    for (volatile std::sig_atomic_t& group : on_stage)
        if (group > 0)
            kill(-group, SIGKILL);
    static const char note[] = "\n[tour] stopped; every program it started has been ended.\n";
    if (write(2, note, sizeof note - 1) < 0) {
        // Nothing more to do on the way out.
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// A scene's failure: what the person at the terminal saw instead of what was promised.
struct Failed {
    std::string what;
};

// A scene that can't be played faithfully in this build.
struct Skipped {
    std::string why;
};

void need(const Check& check)
{
    if (!check)
        throw Failed{check.what};
}

void need(bool ok, const std::string& what_was_seen)
{
    if (!ok)
        throw Failed{what_was_seen};
}

std::string shown_as_command(const std::string& name, const Launch& launch)
{
    std::string command = "$ " + name;
    for (const std::string& arg : launch.args)
        command += " " + arg;
    return command;
}

// One program, started at a pseudo-terminal with its output on the screen, as "$ name args" shows.
// It is killed and reaped when the object goes away, whatever happened in the scene.
class Staged {
public:
    Staged(const std::string& name, Launch launch = {}, const std::string& note = "",
        const std::string& label = "")
        : backstage_(screen().open(label)), program_(name, begin(name, std::move(launch), note))
    {
        for (volatile std::sig_atomic_t& group : on_stage)
            if (group == 0) {
                backstage_.slot = &group;
                group = program_.pid();
                break;
            }
    }

    Program* operator->() { return &program_; }
    Program& operator*() { return program_; }

    // Waits for the end and checks it; the screen then shows all the program printed.
    void need_end(const Ending& expected)
    {
        Ending ending = program_.await_end();
        screen().finish(backstage_.mirror);
        need(ending == expected,
            program_.name() + " " + demo::describe(ending) + " (expected: " + demo::describe(expected) + ")");
    }

private:
    Launch begin(const std::string& name, Launch launch, const std::string& note) const
    {
        launch.terminal = true;
        launch.mirror = backstage_.mirror;
        say(shown_as_command(name, launch) + (note.empty() ? "" : "      # " + note));
        return launch;
    }

    // Declared before the program, so that it is let go of after the program has been ended.
    struct Backstage {
        int mirror;
        volatile std::sig_atomic_t* slot = nullptr;
        explicit Backstage(int fd) : mirror(fd) { }
        ~Backstage()
        {
            if (slot != nullptr)
                *slot = 0;
            screen().close_source(mirror);
        }
        Backstage(const Backstage&) = delete;
        Backstage& operator=(const Backstage&) = delete;
    } backstage_;
    Program program_;
};

// ---- What /proc tells about a running program ----------------------------------------------------

// Waits, with the driver's patience, until `holds` says yes.
Check await_proc(Program& program, const std::string& what, const std::function<bool()>& holds)
{
    auto until = Clock::now() + demo::patience();
    while (!holds()) {
        if (Clock::now() >= until || !program.running())
            return {false,
                program.name() + ": waited for " + what + "; it " +
                    (program.running() ? "never came" : "ended first") + "."};
        std::this_thread::sleep_for(milliseconds(2));
    }
    return {true, {}};
}

int count_lines(const std::string& text, const std::string& line)
{
    int count = 0;
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);)
        if (each == line)
            ++count;
    return count;
}

std::vector<std::string> whole_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text.substr(0, text.rfind('\n') + 1));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// What a program printed, indented as on the screen, for a failure to quote.
std::string printed(const Program& program)
{
    std::string text = program.output();
    if (text.empty())
        return " nothing";
    std::string quoted = ":";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        quoted += "\n  | " + line;
    return quoted;
}

// The program's whole output must be these lines.
void need_lines(const Program& program, const std::vector<std::string>& expected)
{
    if (program.lines() == expected)
        return;
    std::string wanted;
    for (const std::string& line : expected)
        wanted += "\n  | " + line;
    throw Failed{program.name() + " printed" + printed(program) + "\nwhere it should have printed:" + wanted};
}

void pause_for(milliseconds span)
{
    std::this_thread::sleep_for(span);
}

int own_niceness()
{
    return getpriority(PRIO_PROCESS, 0);
}

// ---- The scenes ----------------------------------------------------------------------------------

void unguarded_tally()
{
    say("Two threads each add 1 to one shared counter ten million times, with no lock. Every addition");
    say("is a read and then a separate write: when the other thread writes in between, its update is");
    say("overwritten. Watch the total: short of 20,000,000, and different from run to run. Three runs.");
    std::vector<std::string> totals;
    int lossy = 0;
    for (int run = 0; run < 3; ++run) {
        Staged tally("unguarded_tally");
        tally.need_end(demo::exited(0));
        std::vector<std::string> lines = tally->lines();
        std::optional<long long> sum =
            lines.size() == 1 ? number_after(lines[0], "ARRRRG sum is ") : std::nullopt;
        need(sum.has_value(),
            "it printed" + printed(*tally) + "\ninstead of one line \"ARRRRG sum is <total>\"");
        long long total = *sum;
        need(total > 0 && total <= 20000000, "the total " + grouped(total) + " is outside 1 to 20,000,000");
        totals.push_back(grouped(total));
        lossy += total < 20000000 ? 1 : 0;
    }
    say(format("Seen: totals %s, %s and %s; %d of the 3 runs lost updates.", totals[0].c_str(),
        totals[1].c_str(), totals[2].c_str(), lossy));
    say("(A run loses none only when one thread happens to finish before the other starts.)");
}

void guarded_tally()
{
    say("The same two threads, but each takes mutex1, adds one, prints the new value and lets go.");
    say("Whichever thread comes first, the lines read 1 and then 2: no update is lost.");
    Staged tally("guarded_tally");
    tally.need_end(demo::exited(0));
    need_lines(*tally, {"Counter value: 1", "Counter value: 2"});
    say("Seen: \"Counter value: 1\", then \"Counter value: 2\", status 0.");
}

void wait_wake_handoff()
{
    say("Two threads run foo, one second apart. The first takes the lock, marks done and waits on the");
    say("condition variable cond1; the second finds done changed and signals cond1, which wakes the");
    say("first. Watch the one-second gap between \"Waiting\" and \"Signaling\".");
    Staged handoff("wait_wake_handoff");
    need(handoff->await_line("Waiting on condition variable cond1"));
    auto waiting = Clock::now();
    need(handoff->await_line("Signaling condition variable cond1"));
    double gap = std::chrono::duration<double>(Clock::now() - waiting).count();
    handoff.need_end(demo::exited(0));
    std::vector<std::string> lines = handoff->lines();
    need(lines.size() >= 3 && lines.size() <= 4 && lines[0] == "Waiting on condition variable cond1" &&
            lines[1] == "Signaling condition variable cond1" &&
            std::all_of(lines.begin() + 2, lines.end(),
                [](const std::string& l) { return l == "Returning thread"; }) &&
            handoff->output().back() == '\n',
        "it printed" + printed(*handoff) +
            "\nwhere it should have printed the wait, the signal and \"Returning thread\" once or twice");
    say(format("Seen: the wait, %.1f seconds later the signal, then \"Returning thread\" %s", gap,
        lines.size() == 3 ? "once" : "twice"));
    say("(the thread that was not joined may not get to say it before the process ends).");
}

void enter_gate()
{
    const std::string hello = "Hello from da thread!";
    say("A worker prints \"Hello from da thread!\" over and over, taking a binary semaphore around each");
    say("line. The first Enter takes the semaphore away from it: watch the greetings stop. The second");
    say("Enter gives it back and they resume; the third ends the program.");
    screen().limit(6);
    Staged gate("enter_gate");
    need(gate->await_line("Starting thread, semaphore is unlocked."));
    need(gate->await_line(hello));
    pause_for(milliseconds(400));  // long enough to see the greetings pour
    act("presses Enter");
    gate->type("\n");
    need(gate->await_line("Semaphore locked."));
    act("waits a second, watching for greetings");
    need(gate->silent_for(milliseconds(1000)));
    act("none came: the worker is blocked in sem_wait");
    act("presses Enter");
    gate->type("\n");
    need(gate->await_line("Semaphore unlocked."));
    need(gate->await_line(hello));
    pause_for(milliseconds(300));
    act("presses Enter");
    gate->type("\n");
    gate.need_end(demo::exited(0));

    std::vector<std::string> lines = gate->lines();
    auto locked = std::find(lines.begin(), lines.end(), "Semaphore locked.");
    auto unlocked = std::find(lines.begin(), lines.end(), "Semaphore unlocked.");
    need(!lines.empty() && lines[0] == "Starting thread, semaphore is unlocked." && locked != lines.end() &&
            unlocked == locked + 1,
        "between \"Semaphore locked.\" and \"Semaphore unlocked.\" it printed " +
            std::to_string(unlocked - locked - 1) + " lines");
    long long before = std::count(lines.begin(), locked, hello);
    long long after = std::count(unlocked, lines.end(), hello);
    say(format("Seen: %s greetings before the lock, none while it was held, %s after; status 0.",
        grouped(before).c_str(), grouped(after).c_str()));
}

void permit_drain()
{
    say("A counting semaphore starts with ten permits, and the program takes one as many times as its");
    say("argument says. Ten takes succeed at once. The eleventh blocks for good: no other thread is");
    say("there to give a permit back. It never prints anything.");
    {
        Staged drain("permit_drain", {.args = {"10"}});
        drain.need_end(demo::exited(0));
        need(drain->output().empty(), "it printed" + printed(*drain));
    }
    say("Seen: ten takes, ended at once, silently, with status 0.");
    Staged drain("permit_drain", {.args = {"11"}});
    need(drain->await_blocked());
    need(drain->silent_for(milliseconds(700)));
    act(format(
        "cat /proc/%d/stat: state S, asleep in its eleventh sem_wait, using no processor", drain->pid()));
    act("presses Ctrl-C");
    drain->interrupt();
    drain.need_end(demo::killed_by(SIGINT));
    need(drain->output().empty(), "it printed" + printed(*drain));
    say("Seen: eleven takes blocked, silently, until Ctrl-C ended the program with SIGINT.");
}

void interrupt_release()
{
    say("A worker waits on a semaphore that starts empty, and the main thread ends itself with");
    say("pthread_exit: the process lives on, silent. Ctrl-C runs a handler that posts the semaphore;");
    say("watch the worker print its one line and the process end with status 0.");
    Staged release("interrupt_release");
    pid_t pid = release->pid();
    // The main thread, once it has ended, shows as a zombie while the worker lives on.
    need(release->await_caught(SIGINT));
    need(await_proc(*release, "the main thread to end", [&] { return demo::state_of(pid).state == 'Z'; }));
    need(release->silent_for(milliseconds(700)));
    act(format("cat /proc/%d/stat: Z, the main thread has ended; the worker lives on, waiting", pid));
    act("presses Ctrl-C");
    release->interrupt();
    need(release->await_line("I had to wait until your signal released me!"));
    if (demo::thread_sanitized())
        throw Skipped{
            "the line came, but the end can't come: ThreadSanitizer's runtime keeps a thread of its "
            "own, so the process never loses its last thread"};
    release.need_end(demo::exited(0));
    need_lines(*release, {"I had to wait until your signal released me!"});
    say("Seen: silence until the interrupt, then the one line and status 0.");
}

void even_odd_turns()
{
    say("Two threads print even and odd numbers, five at a time, and call sched_yield after each batch.");
    say(format("On one processor the batches tend to alternate in fives; this machine has %ld, so they may",
        sysconf(_SC_NPROCESSORS_ONLN)));
    say("also mix freely. Either way each thread's own numbers go up by 2. It never ends: Ctrl-C.");
    screen().limit(6);
    Staged turns("even_odd_turns");
    need(turns->await_lines(40));
    pause_for(milliseconds(800));
    std::string before_interrupt = turns->output();  // what was there before the key: whole lines
    act("presses Ctrl-C");
    turns->interrupt();
    turns.need_end(demo::killed_by(SIGINT));

    std::uint32_t next[2] = {0, 1};
    long long lines = 0, turns_taken = 0, of_five = 0, run = 0;
    int previous = -1;
    for (const std::string& line : whole_lines(before_interrupt)) {
        std::optional<long long> even = number_after(line, "even Thr: ");
        std::optional<long long> odd = number_after(line, "odd Thr: ");
        need(even || odd, "a line that is neither thread's: \"" + line + "\"");
        int who = even ? 0 : 1;
        long long value = even ? *even : *odd;
        // Printed as signed, the count wraps past 2147483647: compare the 32 bits.
        need(static_cast<std::uint32_t>(value) == next[who],
            format("the %s thread printed %lld where %d was due", who == 0 ? "even" : "odd", value,
                static_cast<std::int32_t>(next[who])));
        next[who] += 2;
        ++lines;
        if (who != previous && previous >= 0) {
            ++turns_taken;
            of_five += run % 5 == 0 ? 1 : 0;
        }
        run = who == previous ? run + 1 : 1;
        previous = who;
    }
    need(next[0] > 0 && next[1] > 1, "one of the threads printed nothing");
    say(format("Seen: %s lines in about a second, each thread's numbers without a gap or a repeat;",
        grouped(lines).c_str()));
    say(format("the printing thread changed %s times, %lld%% of the turns a whole number of batches of five.",
        grouped(turns_taken).c_str(), turns_taken == 0 ? 0 : of_five * 100 / turns_taken));
}

void replaced_alarm()
{
    const int scale = 4;
    say("It sets a 4-second alarm and at once a 1-second one, then counts seconds for ever. A process");
    say("has one alarm: the second call replaced the first. Watch \"Inside handler function\" come once,");
    say(format(
        "after main line 1, and nothing at the 4-second mark. Time runs %dx faster in this scene.", scale));
    Staged alarmed("replaced_alarm", {.time_scale = scale});
    need(alarmed->await_line("1 : Inside main function"));
    need(alarmed->await_line("Inside handler function"));
    need(alarmed->await_line("2 : Inside main function"));
    need(alarmed->await_line("7 : Inside main function"));
    act("presses Ctrl-C");
    alarmed->interrupt();
    alarmed.need_end(demo::killed_by(SIGINT));
    int handled = count_lines(alarmed->output(), "Inside handler function");
    need(handled == 1, format("the handler's line came %d times", handled));
    say("Seen: the handler once, between main lines 1 and 2; at 4 seconds, nothing. Ctrl-C ended it.");
}

void rearmed_alarm()
{
    const int scale = 4;
    say("The SIGALRM handler prints its line and sets the next 2-second alarm itself: a periodic timer");
    say("built from the one-shot alarm. Watch its line come every two seconds, about two main lines");
    say(format("apart, for as long as it runs. Time runs %dx faster in this scene.", scale));
    Staged alarmed("rearmed_alarm", {.time_scale = scale});
    for (int k = 0; k < 4; ++k)
        need(alarmed->await_line("Inside handler function"));
    std::string seen = alarmed->output();
    if (!alarmed->running())
        throw Failed{"it ended by itself: it " + demo::describe(alarmed->await_end())};
    act("presses Ctrl-C");
    alarmed->interrupt();
    alarmed.need_end(demo::killed_by(SIGINT));

    std::vector<int> between;
    int main_lines = 0, since_handler = 0;
    for (const std::string& line : whole_lines(seen)) {
        if (line == "Inside handler function") {
            between.push_back(since_handler);
            since_handler = 0;
            continue;
        }
        need(line == std::to_string(main_lines + 1) + " : Inside main function",
            "an unexpected line: " + line);
        ++main_lines;
        ++since_handler;
    }
    std::string gaps;
    for (std::size_t k = 1; k < between.size(); ++k) {
        need(between[k] >= 1 && between[k] <= 3,
            format("%d main lines stood between two handler lines", between[k]));
        gaps += (k > 1 ? ", " : "") + std::to_string(between[k]);
    }
    say(format("Seen: the handler line %zu times, with %s main lines between; never ended by its",
        between.size(), gaps.c_str()));
    say("own alarm. Ctrl-C ended it.");
}

void interrupt_tally()
{
    // It runs a handler only when the program next enters the C library, and the poll never does.
    if (demo::thread_sanitized())
        throw Skipped{"ThreadSanitizer holds signals back from a loop that makes no calls"};
    const int scale = 50;
    say("Each Ctrl-C runs a handler that writes \"CTRL+C\" and sleeps 100 seconds before it counts. SIGINT");
    say("is blocked while it runs, and a blocked signal is held only once: presses during a run make one");
    say("more run. After five runs the main loop prints the tally. Time runs 50x faster in this scene.");
    Staged tally("interrupt_tally", {.time_scale = scale});
    pid_t pid = tally->pid();
    auto blocked = [&] { return demo::in_signal_set(pid, "SigBlk", SIGINT); };
    auto run_over = [&] { return !blocked(); };
    need(tally->await_caught(SIGINT));

    act("presses Ctrl-C");
    tally->interrupt();
    need(tally->await_line("CTRL+C"));
    need(await_proc(*tally, "the handler to run with SIGINT blocked", blocked));
    act("presses Ctrl-C three times while the handler sleeps");
    for (int k = 0; k < 3; ++k)
        tally->interrupt();
    need(await_proc(*tally, "SIGINT held pending during the run",
        [&] { return blocked() && demo::in_signal_set(pid, "ShdPnd", SIGINT); }));
    act(format("grep Sig /proc/%d/status: SIGINT blocked, and pending once", pid));
    need(tally->await_line("CTRL+C"));
    need(await_proc(*tally, "the second run to end", run_over));
    need(tally->unread().find("CTRL+C") == std::string::npos, "a third run started");
    say("Seen so far: four presses, two runs.");

    for (int k = 0; k < 2; ++k) {
        act("presses Ctrl-C, after the previous run has ended");
        tally->interrupt();
        need(tally->await_line("CTRL+C"));
        need(await_proc(*tally, "the run to end", run_over));
    }
    act("presses Ctrl-C, for the fifth run");
    tally->interrupt();
    need(tally->await_line("CTRL+C"));
    need(tally->await_line("CTRL+c was pushed 5 times. "));
    tally.need_end(demo::exited(0));
    int runs = count_lines(tally->output(), "CTRL+C");
    need(runs == 5, format("\"CTRL+C\" came %d times", runs));
    say("Seen: seven presses, five runs, and the tally counted the runs: \"CTRL+c was pushed 5 times.\"");
}

void interrupt_child()
{
    say("The parent forks a child that spins, sends it SIGINT and waits; the wait status tells the");
    say("parent what ended the child, and it says so on standard error. Then the same program started");
    say("with SIGINT ignored, as a shell does for a background job: the child shrugs the signal off.");
    {
        Staged parent("interrupt_child");
        parent.need_end(demo::exited(0));
        need_lines(*parent, {"Child term due to: Interrupt"});
    }
    Staged parent("interrupt_child", {.ignored = {SIGINT}}, "started with SIGINT ignored");
    pid_t child = parent->await_child();
    need(child != 0, "it started no child");
    need(parent->await_blocked());
    need(parent->silent_for(milliseconds(700)));
    need(demo::await_spinning(child, "the child"));
    act(format("the child %d spins on, the interrupt ignored; kill -TERM %d", child, child));
    kill(child, SIGTERM);
    need(parent->await_line("Child term due to: Terminated"));
    parent.need_end(demo::exited(0));
    say("Seen: \"Interrupt\" the first time; with SIGINT ignored the child lived until SIGTERM, and the");
    say("report named that signal. Both ended with status 0.");
}

void child_exit_notice()
{
    say("The parent's SIGCHLD handler writes \"CHILD\" and adds 5 to val (10 at the start); the child takes");
    say("3 from its own copy and spins. A stop and a continue of the child notify the parent too. Watch:");
    say("three notices, then \"val = 25\": the handler's changes show, the child's copy (7) never does.");
    Staged parent("child_exit_notice");
    pid_t child = parent->await_child();
    need(child != 0, "it started no child");
    for (auto [sig, name] : {std::pair{SIGSTOP, "STOP"}, {SIGCONT, "CONT"}, {SIGTERM, "TERM"}}) {
        // A notice that comes while the last one is still being handled merges into it: each signal
        // waits until the parent is back asleep in its wait.
        need(demo::await_asleep(parent->pid(), "the parent"));
        act(format("kill -%s %d", name, child));
        kill(child, sig);
        need(parent->await_line("CHILD"));
    }
    need(parent->await_line("val = 25"));
    parent.need_end(demo::exited(0));
    need_lines(*parent, {"CHILD", "CHILD", "CHILD", "val = 25"});
    say("Seen: a notice for the stop, the continue and the end, and val = 10 + 3 x 5 = 25; status 0.");
}

void renice_self()
{
    const int scale = 5;
    int start = own_niceness();
    int expected = start <= 10 || geteuid() == 0 ? 10 : start;  // raising priority needs privilege
    say("It waits 10 seconds, sets its own niceness to 10, reports it, and waits 10 seconds more. The tour");
    say("looks at it from outside with show_niceness in each pause: the niceness it started with, then");
    say(format("10. Time runs %dx faster in this scene.", scale));
    Staged renice("renice_self", {.time_scale = scale}, "", "renice_self");
    pid_t pid = renice->pid();
    std::string pid_text = std::to_string(pid);
    need(renice->await_line("Sleeping1 ..."));
    {
        Staged query("show_niceness", {.args = {pid_text}}, "in a second terminal, in the first pause",
            "show_niceness");
        query.need_end(demo::exited(0));
        need_lines(*query, {format("Process (%d) Priority is %d.", pid, start)});
    }
    need(renice->unread().find("Process (") == std::string::npos,
        "renice_self had already reported before the query came");
    need(renice->await_line(format("Process (%d) Priority is %d.", pid, expected)));
    {
        Staged query("show_niceness", {.args = {pid_text}}, "again, in the second pause", "show_niceness");
        query.need_end(demo::exited(0));
        need_lines(*query, {format("Process (%d) Priority is %d.", pid, expected)});
    }
    renice.need_end(demo::exited(0));
    say(format("Seen: niceness %d before the change and %d after, from inside and from outside, in one",
        start, expected));
    say("format; status 0.");
    if (expected != 10)
        say("(The change to 10 was refused: from a niceness above 10 it would raise the priority.)");
}

void show_niceness()
{
    int mine = own_niceness();
    say("It prints the niceness of the process whose ID it is given: 0 names itself. A process that does");
    say("not exist is an error on standard error (status 1), not a niceness; the wrong number of");
    say("arguments gives status 255 and no output.");
    pid_t gone = 0;
    {
        Staged query("show_niceness", {.args = {"0"}}, "itself");
        query.need_end(demo::exited(0));
        need_lines(*query, {format("Process (0) Priority is %d.", mine)});
        gone = query->pid();
    }
    {
        Staged query("show_niceness", {.args = {std::to_string(getpid())}}, "the tour itself");
        query.need_end(demo::exited(0));
        need_lines(*query, {format("Process (%d) Priority is %d.", getpid(), mine)});
    }
    {
        Staged query("show_niceness", {.args = {std::to_string(gone)}}, "the query that ended above");
        query.need_end(demo::exited(1));
        std::vector<std::string> lines = query->lines();
        need(lines.size() == 1 && lines[0].find(std::to_string(gone)) != std::string::npos &&
                lines[0].find(std::strerror(ESRCH)) != std::string::npos,
            "it printed" + printed(*query) + "\nwhere it should have named process " + std::to_string(gone) +
                " and said \"" + std::strerror(ESRCH) + "\"");
    }
    {
        Staged query("show_niceness", {}, "no argument");
        query.need_end(demo::exited(255));
        need(query->output().empty(), "it printed" + printed(*query));
    }
    say(format(
        "Seen: niceness %d for itself and for the tour, an error for a process that is gone, and", mine));
    say("status 255 without an argument.");
}

struct Scene {
    const char* name;
    const char* about;
    void (*play)();
};

const Scene scenes[] = {
    {"unguarded_tally", "two threads lose updates of one unlocked counter", unguarded_tally},
    {"guarded_tally", "the same counting under a mutex: 1, then 2", guarded_tally},
    {"wait_wake_handoff", "one thread waits on a condition variable, the other signals it",
        wait_wake_handoff},
    {"enter_gate", "Enter takes and gives back a binary semaphore; the greetings stop and resume",
        enter_gate},
    {"permit_drain", "ten permits: ten takes pass, the eleventh blocks until Ctrl-C", permit_drain},
    {"interrupt_release", "Ctrl-C's handler posts a semaphore and frees a waiting thread", interrupt_release},
    {"even_odd_turns", "two threads print in batches of five and yield; Ctrl-C", even_odd_turns},
    {"replaced_alarm", "a second alarm replaces the first: the handler runs once", replaced_alarm},
    {"rearmed_alarm", "the handler re-arms the alarm: a line every two seconds", rearmed_alarm},
    {"interrupt_tally", "presses during a handler run merge into one more run", interrupt_tally},
    {"interrupt_child", "a parent interrupts its child and reports the cause", interrupt_child},
    {"child_exit_notice", "SIGCHLD on the child's stop, continue and end; copied memory", child_exit_notice},
    {"renice_self", "lowers its own niceness to 10, watched from outside by show_niceness", renice_self},
    {"show_niceness", "prints any process's niceness; an error for one that does not exist", show_niceness},
};

enum class Outcome { kept, skipped, failed };

Outcome play(const Scene& scene, std::size_t number, std::size_t count)
{
    std::string title = format("== %zu/%zu  %s ", number, count, scene.name);
    title.resize(std::max<std::size_t>(title.size(), 100), '=');
    say("");
    say(title);
    std::string failure;
    auto begun = Clock::now();
    try {
        scene.play();
    } catch (const Skipped& skipped) {
        screen().limit(0);
        say(std::string("-- ") + scene.name + ": skipped: " + skipped.why);
        return Outcome::skipped;
    } catch (const Failed& failed) {
        failure = failed.what;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    screen().limit(0);
    double took = std::chrono::duration<double>(Clock::now() - begun).count();
    if (failure.empty()) {
        say(format("-- %s: as promised (%.1f s)", scene.name, took));
        return Outcome::kept;
    }
    say(std::string("-- ") + scene.name + ": FAILED: " + failure);
    return Outcome::failed;
}

// Where the viewer's Enter comes from, or -1 to play straight through: standard input when it is a
// terminal; else the controlling terminal when the screen is one, since a build tool may hand the
// tour an empty input (`cmake --workflow` gives it /dev/null) while the viewer sits at the screen.
int viewer_keys()
{
    if (isatty(0))
        return 0;
    if (!isatty(1))
        return -1;
    return ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
}

// At a terminal, the viewer sets the pace. False when they want to stop.
bool await_viewer(int keys, const char* next)
{
    tcflush(keys, TCIFLUSH);  // keys pressed during the scene are not an answer
    std::printf("\n[Enter: next scene, %s; q and Enter: end the tour] ", next);
    std::fflush(stdout);
    std::string answer;
    for (char c = 0; c != '\n';) {
        ssize_t got = read(keys, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (c != '\n')
            answer.push_back(c);
    }
    return answer != "q";
}

}  // namespace

int tour_main(int argc, char* argv[])
{
    std::vector<const Scene*> chosen;
    for (int k = 1; k < argc; ++k) {
        std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: posix-demos tour [NAME...]   plays every scene, or only those named\n"
                        "       posix-demos tour --list      lists the scenes\n");
            return 0;
        }
        if (arg == "--list") {
            for (const Scene& scene : scenes)
                std::printf("%-18s %s\n", scene.name, scene.about);
            return 0;
        }
        auto found =
            std::find_if(std::begin(scenes), std::end(scenes), [&](const Scene& s) { return arg == s.name; });
        if (found == std::end(scenes)) {
            std::fprintf(stderr,
                "posix-demos tour: no scene named \"%s\" (posix-demos tour --list shows them)\n", argv[k]);
            return 2;
        }
        chosen.push_back(&*found);
    }
    if (chosen.empty())
        for (const Scene& scene : scenes)
            chosen.push_back(&scene);

    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(sig, end_the_show);
    int keys = viewer_keys();

    say("A guided tour of posix-demos: each program runs at a pseudo-terminal of its own, and what it");
    say("prints is shown indented (\"  | \"). Lines starting with [tour] are what the tour does, as you");
    say("would at the keyboard or from a second terminal.");
    std::string failed, skipped;
    std::size_t played = 0, failures = 0;
    auto begun = Clock::now();
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (keys >= 0 && k > 0 && !await_viewer(keys, chosen[k]->name))
            break;
        Outcome outcome = play(*chosen[k], k + 1, chosen.size());
        std::string& list = outcome == Outcome::failed ? failed : skipped;
        if (outcome != Outcome::kept)
            list += (list.empty() ? "" : ", ") + std::string(chosen[k]->name);
        failures += outcome == Outcome::failed ? 1 : 0;
        ++played;
    }
    double took = std::chrono::duration<double>(Clock::now() - begun).count();
    say("");
    std::string also = skipped.empty() ? "" : "; skipped: " + skipped;
    if (failures == 0) {
        say(format(
            "The tour is over: %zu of %zu scenes played, every program behaved as promised (%.0f s%s).",
            played, chosen.size(), took, also.c_str()));
        return 0;
    }
    say(format("The tour is over: %zu of %zu scenes FAILED: %s (%.0f s%s).", failures, played, failed.c_str(),
        took, also.c_str()));
    return 1;
}
