// The condition-variable scene: one thread waits, the other signals.

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

void wait_wake_handoff()
{
    say("Two threads run foo, one second apart. The first takes the lock, marks done and waits on the");
    say("condition variable cond1; the second finds done changed and signals cond1, which wakes the");
    say("first. Watch the one-second gap between \"Waiting\" and \"Signaling\".");
    Staged handoff("wait_wake_handoff");
    need(handoff->await_line("Waiting on condition variable cond1"));
    auto waiting = Clock::now();
    show_view(handoff->pid(), {demo::Part::threads}, {"waits on cond1"});
    act("the first thread sleeps inside cond1 until the second signals it");
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

}  // namespace tour
