#include "processes.hpp"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>

namespace demo {

ProcessState state_of(pid_t pid)
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

bool ended(const ProcessState& s)
{
    return s.state == 0 || s.state == 'Z' || s.state == 'X';
}

std::vector<pid_t> children_of(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string text;
        std::getline(stat, text);
        std::size_t paren = text.rfind(')');
        if (paren == std::string::npos)
            continue;
        std::istringstream rest(text.substr(paren + 1));
        char state = 0;
        long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            found.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<pid_t> descendants_of(pid_t root)
{
    std::vector<pid_t> all;
    for (pid_t child : children_of(root)) {
        all.push_back(child);
        for (pid_t below : descendants_of(child))
            all.push_back(below);
    }
    return all;
}

bool signal_line_holds(const std::string& line, std::string_view set, int sig)
{
    // "SigCgt:\t0000000000000002": a hexadecimal mask, bit 0 for signal 1.
    if (!line.starts_with(set) || line.size() <= set.size() || line[set.size()] != ':')
        return false;
    return (std::stoull(line.substr(set.size() + 1), nullptr, 16) >> (sig - 1) & 1U) != 0;
}

std::string signal_name(int sig)
{
    // The two below SIGRTMIN belong to the C library's thread support (cancellation, and making
    // set*id calls reach every thread): a threaded program has a handler for them.
    if (sig == SIGRTMIN - 2)
        return "SIGCANCEL (C library)";
    if (sig == SIGRTMIN - 1)
        return "SIGSETXID (C library)";
    if (sig >= SIGRTMIN && sig <= SIGRTMAX)
        return sig == SIGRTMIN ? "SIGRTMIN" : "SIGRTMIN+" + std::to_string(sig - SIGRTMIN);
    const char* abbrev = sigabbrev_np(sig);
    return abbrev ? std::string("SIG") + abbrev : "signal " + std::to_string(sig);
}

bool in_signal_set(pid_t pid, std::string_view set, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (signal_line_holds(line, set, sig))
            return true;
    return false;
}

Check await_spinning(pid_t pid, const std::string& who, Clock::duration within)
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

Check await_ended(pid_t pid, const std::string& who)
{
    return await_process(pid, ended, who + " was still there");
}

Check await_asleep(pid_t pid, const std::string& who)
{
    return await_process(
        pid, [](const ProcessState& s) { return s.state == 'S'; }, who + " never went back to waiting");
}

}  // namespace demo
