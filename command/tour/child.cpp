// The child scenes: a parent that interrupts its child, and one notified of its child's changes.

#include <csignal>
#include <utility>

#include "processes.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

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
        if (sig == SIGSTOP) {
            show_view(child, {demo::Part::heading}, {"stopped"});
            act("the child is stopped: it spins no more until SIGCONT");
        }
    }
    need(parent->await_line("val = 25"));
    parent.need_end(demo::exited(0));
    need_lines(*parent, {"CHILD", "CHILD", "CHILD", "val = 25"});
    say("Seen: a notice for the stop, the continue and the end, and val = 10 + 3 x 5 = 25; status 0.");
}

}  // namespace tour
