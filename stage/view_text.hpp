// The kernel's view of a program as lines of text, in the program's own terms: a heading per
// process, a line per thread, and its signal sets by name. `posix-demos peek` prints them, and the
// tour shows a few of them at the moments that matter.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include "kernel_view.hpp"

namespace demo {

struct ViewLine {
    std::string key;   // which line it is ("4242 thread 4243"), to compare it with the last frame's
    std::string text;  // what it says
};

// All lines of a snapshot. With an earlier snapshot of the same processes and the seconds between
// the two, each heading also says how much of a processor the process used in that time.
std::vector<ViewLine> view_lines(const Snapshot& now, const Snapshot* before = nullptr, double seconds = 0);

// A few lines on one process alone, taken now: its heading, a line per thread and its signal sets
// (not its children: glimpse a child by its own ID). Empty if there is no such process.
std::vector<std::string> glimpse(pid_t pid);

}  // namespace demo
