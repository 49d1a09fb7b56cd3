// The kernel's view of a program as lines of text, in the program's own terms: a heading per
// process, a line per thread, and its signal sets by name. `posix-demos peek` prints them, and the
// tour shows a few of them at the moments that matter.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <sys/types.h>

#include "kernel_view.hpp"

namespace demo {

// What a line of the view is about, so that a few of them can be picked out.
enum class Part {
    heading,  // the process: its name, state, niceness and processor time
    threads,  // a line per thread: what it waits in, its context switches
    pending,  // the signal sets, the process's and a thread's own where it differs
    blocked,
    ignored,
    caught,
    hidden,  // what the kernel would not show, and why
};

struct ViewLine {
    std::string key;   // which line it is ("4242 thread 4243"), to compare it with the last frame's
    std::string text;  // what it says
    Part part;
};

// All lines of a snapshot. With an earlier snapshot of the same processes and the seconds between
// the two, each heading also says how much of a processor the process used in that time.
std::vector<ViewLine> view_lines(const Snapshot& now, const Snapshot* before = nullptr, double seconds = 0);

// A few lines on one process alone, taken now: those of the parts asked for, and what the kernel
// hid if it did (not its children: glimpse a child by its own ID). Empty if there is no such process.
std::vector<ViewLine> glimpse(pid_t pid,
    std::initializer_list<Part> parts = {
        Part::heading, Part::threads, Part::pending, Part::blocked, Part::ignored, Part::caught});

}  // namespace demo
