// The alarm scenes: one alarm replaced by another, and an alarm re-armed by its handler.

#include <csignal>
#include <string>
#include <vector>

#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

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

}  // namespace tour
