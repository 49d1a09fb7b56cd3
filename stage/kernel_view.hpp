// What the kernel knows of a running program and of its live descendants, read from /proc in one
// pass: per process its state, niceness, processor time and signal sets; per thread its state, the
// call it is blocked in (with the program's variable for a futex wait) and its context switches.
// Only what the view shows is read, so that a snapshot costs a fraction of a millisecond.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

#include "symbols.hpp"

namespace demo {

// A set of signals as /proc gives it: bit (n - 1) stands for signal n.
using SignalSet = std::uint64_t;

struct ThreadView {
    pid_t tid = 0;
    char state = 0;  // as /proc says it: R, S, D, T, t, Z, ...
    // What it is doing, in words: "runs", "sleeps", "waits on semaphore", "waits for input",
    // "waits for a child", "in poll"; empty when it is not in a call (stopped in its own code).
    std::string call;
    long voluntary = -1, involuntary = -1;  // context switches; -1 when not shown
    SignalSet pending = 0;                  // sent to this thread alone
    SignalSet blocked = 0;
};

struct ProcessView {
    pid_t pid = 0;
    pid_t parent = 0;
    int depth = 0;  // 0: the process asked for; 1: its child; 2: a grandchild ...
    std::string name;
    char state = 0;  // of the process as a whole, from its threads' states (see kernel_view.cpp)
    int niceness = 0;
    long cpu_ticks = 0;  // user and system time, in clock ticks
    SignalSet pending = 0, blocked = 0, ignored = 0, caught = 0;
    std::vector<ThreadView> threads;
    bool ended = false;  // it ended while the snapshot was being taken: what is here is partial
    // What the kernel would not show, and why, in words; empty when it showed everything.
    std::string hidden;
};

struct Snapshot {
    std::vector<ProcessView> processes;  // the process asked for first, each child after its parent
    // Why there is nothing to show, when `processes` is empty: "no such process", ...
    std::string failure;
};

// Takes snapshots. It keeps each process's symbols between snapshots, so that a live view reads an
// executable once and not ten times a second.
class KernelView {
public:
    Snapshot take(pid_t pid);

private:
    struct Known {
        unsigned long long started = 0;  // start time, which tells a reused process ID apart
        Symbols symbols;
    };
    const Symbols& symbols_of(pid_t pid, pid_t tid, unsigned long long started);
    bool read_process(pid_t pid, int depth, Snapshot& into, std::string& failure);

    std::map<pid_t, Known> known_;
};

// The signals of a set by name, "SIGINT SIGCHLD", or "none".
std::string signal_names(SignalSet set);

// The state as a word: running, sleeping, waiting (uninterruptible), stopped, zombie.
std::string state_word(char state);

}  // namespace demo
