// Telling a spinning process from a sleeping, stopped or ended one, from what /proc says of it. A
// busy loop is what several programs show; a test waits for its processor time to grow instead of
// guessing how long to watch.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <sys/types.h>

#include "driver.hpp"

namespace demo {

struct ProcessState {
    char state = 0;   // 'R' running, 'S' asleep, 'T' stopped, 'Z' ended but not reaped; 0: gone
    long ticks = -1;  // user plus system time in clock ticks
};

inline ProcessState state_of(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(file, text))
        return {};
    std::istringstream fields(text.substr(text.rfind(')') + 1));
    ProcessState found;
    std::string skip;
    fields >> found.state;
    for (int field = 4; field <= 13; ++field)  // ppid ... cmajflt
        fields >> skip;
    long user = 0, system = 0;
    if (fields >> user >> system)
        found.ticks = user + system;
    return found;
}

inline bool ended(const ProcessState& s)
{
    return s.state == 0 || s.state == 'Z' || s.state == 'X';
}

// Waits until `pid` has spent 30 ms more of the processor than now: only a loop that really runs
// gets there, while a process that sleeps, is stopped or ends never does.
inline Check await_spinning(pid_t pid, const std::string& who, Clock::duration within = patience())
{
    long start = state_of(pid).ticks;
    auto until = Clock::now() + within;
    for (ProcessState now = state_of(pid); !ended(now); now = state_of(pid)) {
        if (now.ticks - start >= 3)
            return {true, {}};
        if (Clock::now() >= until)
            return {false, who + " never spun: it has used " + std::to_string(now.ticks) + " ticks in all"};
        std::this_thread::sleep_for(milliseconds(5));
    }
    return {false, who + " ended instead of spinning"};
}

// Waits until what /proc says of `pid` is as `wanted`.
template <typename Wanted>
Check await_process(pid_t pid, Wanted wanted, const std::string& failure, Clock::duration within = patience())
{
    auto until = Clock::now() + within;
    while (!wanted(state_of(pid))) {
        if (Clock::now() >= until)
            return {false, failure};
        std::this_thread::sleep_for(milliseconds(2));
    }
    return {true, {}};
}

inline Check await_ended(pid_t pid, const std::string& who)
{
    return await_process(pid, ended, who + " was still there");
}

// Asleep: blocked in a call, such as a wait.
inline Check await_asleep(pid_t pid, const std::string& who)
{
    return await_process(
        pid, [](const ProcessState& s) { return s.state == 'S'; }, who + " never went back to waiting");
}

}  // namespace demo
