// The priority scenes: a process that changes its niceness, and one that asks for any process's.

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {

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
    show_view(pid, {demo::Part::heading}, {format("niceness %d ", start)});
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
    show_view(pid, {demo::Part::heading}, {format("niceness %d ", expected)});
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

}  // namespace tour
