// The semaphore scenes: a binary gate, a counting semaphore drained, a post from a handler.

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "processes.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

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
    show_view(gate->pid(), {demo::Part::threads}, {"waits on semaphore"});
    act("the worker waits on the program's variable semaphore; the main thread waits for the next Enter");
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
    show_view(drain->pid(), {demo::Part::heading, demo::Part::threads}, {"sleeping", "waits on s"});
    act("asleep in its eleventh sem_wait, on the program's semaphore s, using no processor");
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
    need(release->await_until("ended its main thread", [&] { return demo::state_of(pid).state == 'Z'; }));
    need(release->silent_for(milliseconds(700)));
    show_view(pid, {demo::Part::threads}, {"has ended", "waits on s"});
    act("the main thread has ended; the worker lives on, waiting on the semaphore s");
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

}  // namespace tour
