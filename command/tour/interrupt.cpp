// The interrupt scene: presses that come during a handler run merge.

#include <csignal>
#include <string>

#include "processes.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

void interrupt_tally()
{
    // It runs a handler only when the program next enters the C library, and the poll never does.
    if (demo::thread_sanitized())
        throw Skipped{"ThreadSanitizer holds signals back from a loop that makes no calls"};
    const int scale = 100;  // a handler run of 100 seconds takes one
    say("Each Ctrl-C runs a handler that writes \"CTRL+C\" and sleeps 100 seconds before it counts. SIGINT");
    say("is blocked while it runs, and a blocked signal is held only once: presses during a run make one");
    say(format(
        "more run. After five runs the main loop prints the tally. Time runs %dx faster in this scene.",
        scale));
    Staged tally("interrupt_tally", {.time_scale = scale});
    pid_t pid = tally->pid();
    auto blocked = [&] { return demo::in_signal_set(pid, "SigBlk", SIGINT); };
    auto run_over = [&] { return !blocked(); };
    need(tally->await_caught(SIGINT));

    act("presses Ctrl-C");
    tally->interrupt();
    need(tally->await_line("CTRL+C"));
    need(tally->await_until("ran its handler with SIGINT blocked", blocked));
    show_view(pid, {demo::Part::threads, demo::Part::blocked, demo::Part::caught},
        {"sleeps", "blocked  SIGINT", "caught   SIGINT"});
    act("the handler sleeps, and SIGINT, caught by the program, is blocked while it runs");
    act("presses Ctrl-C three times while the handler sleeps");
    for (int k = 0; k < 3; ++k)
        tally->interrupt();
    need(tally->await_until("held SIGINT pending during the run",
        [&] { return blocked() && demo::in_signal_set(pid, "ShdPnd", SIGINT); }));
    show_view(pid, {demo::Part::pending, demo::Part::blocked}, {"pending  SIGINT", "blocked  SIGINT"});
    act("SIGINT blocked, and pending: once, however many presses came");
    need(tally->await_line("CTRL+C"));
    need(tally->await_until("ended the second run", run_over));
    need(tally->unread().find("CTRL+C") == std::string::npos, "a third run started");
    say("Seen so far: four presses, two runs.");

    for (int k = 0; k < 2; ++k) {
        act("presses Ctrl-C, after the previous run has ended");
        tally->interrupt();
        need(tally->await_line("CTRL+C"));
        need(tally->await_until("ended the run", run_over));
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

}  // namespace tour
