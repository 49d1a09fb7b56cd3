// What /proc says of a process: its state and processor time, its children, its signal sets. A
// busy loop is what several programs show; the tour and the tests wait for its processor time to
// grow instead of guessing how long to watch.
#pragma once

#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "driver.hpp"

namespace demo {

struct ProcessState {
    char state = 0;   // 'R' running, 'S' asleep, 'T' stopped, 'Z' ended but not reaped; 0: gone
    long ticks = -1;  // user plus system time in clock ticks
};

ProcessState state_of(pid_t pid);
bool ended(const ProcessState& s);

// Processes whose parent is `parent`, and all processes below `root`, in order of process ID.
std::vector<pid_t> children_of(pid_t parent);
std::vector<pid_t> descendants_of(pid_t root);

// Whether a signal set of /proc/<pid>/status ("SigCgt" caught, "SigBlk" blocked, "ShdPnd" pending
// for the process, ...) holds `sig` now; and whether one line of that file is such a set holding it.
bool in_signal_set(pid_t pid, std::string_view set, int sig);
bool signal_line_holds(const std::string& line, std::string_view set, int sig);

// A signal by its name, "SIGINT"; the two below SIGRTMIN by what the C library uses them for.
std::string signal_name(int sig);

// Waits until `pid` has spent 30 ms more of the processor than now: only a loop that really runs
// gets there, while a process that sleeps, is stopped or ends never does.
Check await_spinning(pid_t pid, const std::string& who, Clock::duration within = patience());

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

Check await_ended(pid_t pid, const std::string& who);
// Asleep: blocked in a call, such as a wait.
Check await_asleep(pid_t pid, const std::string& who);

}  // namespace demo
