// The yield scene: two threads that give up the processor after each batch.

#include <csignal>
#include <cstdint>
#include <optional>
#include <string>

#include <unistd.h>

#include "lines.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

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
    show_view(turns->pid(), {demo::Part::threads}, {"involuntary"});
    act("a yield that lets another thread run counts as an involuntary switch (the yielding thread");
    act("stays ready to run); a wait, for the lock of standard output or for the terminal, as a");
    act("voluntary one. An address is a word waited on outside the program's own variables.");
    std::string before_interrupt = turns->output();  // what was there before the key: whole lines
    act("presses Ctrl-C");
    turns->interrupt();
    turns.need_end(demo::killed_by(SIGINT));

    std::uint32_t next[2] = {0, 1};
    long long lines = 0, turns_taken = 0, of_five = 0, run = 0;
    int previous = -1;
    for (const std::string& line : whole_lines(before_interrupt)) {
        std::optional<long long> even = demo::number_after<long long>(line, "even Thr: ");
        std::optional<long long> odd = demo::number_after<long long>(line, "odd Thr: ");
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

}  // namespace tour
