#include "kernel_view.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "processes.hpp"

namespace demo {

namespace {

// A small /proc file whole, or the errno that reading it gave. /proc files are made afresh on
// every read, so one read of a buffer large enough sees a consistent picture.
int slurp(const char* path, std::string& text)
{
    text.clear();
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            int error = errno;
            close(fd);
            return error;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    return 0;
}

bool gone(int error)
{
    return error == ENOENT || error == ESRCH;
}

// The value of a "Key:\tvalue" line of a status file, or an empty view.
std::string_view field(std::string_view status, std::string_view key)
{
    std::size_t at = 0;
    while (at < status.size()) {
        std::size_t end = status.find('\n', at);
        if (end == std::string_view::npos)
            end = status.size();
        std::string_view line = status.substr(at, end - at);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == ':') {
            line.remove_prefix(key.size() + 1);
            while (!line.empty() && (line.front() == '\t' || line.front() == ' '))
                line.remove_prefix(1);
            return line;
        }
        at = end + 1;
    }
    return {};
}

SignalSet signal_set(std::string_view status, std::string_view key)
{
    std::string hex(field(status, key));
    return hex.empty() ? 0 : std::strtoull(hex.c_str(), nullptr, 16);
}

long number(std::string_view status, std::string_view key)
{
    std::string text(field(status, key));
    return text.empty() ? -1 : std::strtol(text.c_str(), nullptr, 10);
}

// The calls a thread of these programs, or of a program like them, may be found waiting in, by
// their x86-64 numbers. Those with words of their own come first.
const char* call_name(long nr)
{
    switch (nr) {
    case 0:
        return "read";
    case 1:
        return "write";
    case 3:
        return "close";
    case 7:
        return "poll";
    case 9:
        return "mmap";
    case 11:
        return "munmap";
    case 16:
        return "ioctl";
    case 17:
        return "pread64";
    case 19:
        return "readv";
    case 20:
        return "writev";
    case 23:
        return "select";
    case 24:
        return "sched_yield";
    case 34:
        return "pause";
    case 35:
        return "nanosleep";
    case 42:
        return "connect";
    case 43:
        return "accept";
    case 45:
        return "recvfrom";
    case 47:
        return "recvmsg";
    case 61:
        return "wait4";
    case 62:
        return "kill";
    case 65:
        return "semop";
    case 72:
        return "fcntl";
    case 73:
        return "flock";
    case 74:
        return "fsync";
    case 128:
        return "rt_sigtimedwait";
    case 130:
        return "rt_sigsuspend";
    case 140:
        return "getpriority";
    case 141:
        return "setpriority";
    case 202:
        return "futex";
    case 219:
        return "restart_syscall";
    case 220:
        return "semtimedop";
    case 230:
        return "clock_nanosleep";
    case 231:
        return "exit_group";
    case 232:
        return "epoll_wait";
    case 247:
        return "waitid";
    case 257:
        return "openat";
    case 270:
        return "pselect6";
    case 271:
        return "ppoll";
    case 281:
        return "epoll_pwait";
    case 288:
        return "accept4";
    case 441:
        return "epoll_pwait2";
    case 449:
        return "futex_waitv";
    default:
        return nullptr;
    }
}

bool is_terminal_path(std::string_view path)
{
    return path.starts_with("/dev/pts/") || path.starts_with("/dev/tty") || path == "/dev/console";
}

}  // namespace

std::string state_word(char state)
{
    switch (state) {
    case 'R':
        return "running";
    case 'S':
    case 'I':
        return "sleeping";
    case 'D':
        return "waiting";
    case 'T':
    case 't':
        return "stopped";
    case 'Z':
    case 'X':
        return "zombie";
    default:
        return "unknown";
    }
}

std::string signal_names(SignalSet set)
{
    std::string names;
    for (int sig = 1; sig <= 64; ++sig) {
        if ((set >> (sig - 1) & 1U) == 0)
            continue;
        if (!names.empty())
            names += ' ';
        names += signal_name(sig);
    }
    return names.empty() ? "none" : names;
}

const Symbols& KernelView::symbols_of(pid_t pid, pid_t tid, unsigned long long started)
{
    auto at = known_.find(pid);
    if (at == known_.end() || at->second.started != started || at->second.symbols.empty())
        at = known_.insert_or_assign(pid, Known{started, Symbols::of(pid, tid)}).first;
    return at->second.symbols;
}

Snapshot KernelView::take(pid_t pid)
{
    Snapshot snapshot;
    std::string failure;
    if (!read_process(pid, 0, snapshot, failure))
        snapshot.failure = failure;
    return snapshot;
}

// Reads one process into `into` and then its children. False, with the reason, when there is
// nothing to show of it at all.
bool KernelView::read_process(pid_t pid, int depth, Snapshot& into, std::string& failure)
{
    char path[96];
    std::string stat, status;
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    if (int error = slurp(path, stat)) {
        failure = gone(error) ? "no such process"
            : error == EACCES ? "not allowed to inspect it (the kernel hides other users' processes here)"
                              : std::string("cannot read ") + path + ": " + std::strerror(error);
        return false;
    }
    std::snprintf(path, sizeof path, "/proc/%d/status", pid);
    if (int error = slurp(path, status)) {
        failure = gone(error) ? "no such process"
                              : std::string("cannot read ") + path + ": " + std::strerror(error);
        return false;
    }
    // A thread's ID names its process too (/proc/TID exists): look at the whole process.
    long group = number(status, "Tgid");
    if (depth == 0 && group > 0 && group != pid)
        return read_process(static_cast<pid_t>(group), 0, into, failure);

    ProcessView p;
    p.pid = pid;
    p.depth = depth;
    std::size_t open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        failure = "no such process";
        return false;
    }
    p.name = stat.substr(open + 1, close - open - 1);
    // After the name: state ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime
    // stime cutime cstime priority nice threads itrealvalue starttime, separated by spaces.
    std::vector<std::string_view> fields;
    for (std::string_view rest = std::string_view(stat).substr(close + 1); fields.size() < 20;) {
        std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        std::size_t end = std::min(rest.find(' '), rest.size());
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end);
    }
    auto number_at = [&fields](std::size_t index) {
        return index < fields.size() ? std::strtoll(std::string(fields[index]).c_str(), nullptr, 10) : 0;
    };
    p.state = fields.empty() ? '?' : fields[0].front();
    p.parent = static_cast<pid_t>(number_at(1));
    p.cpu_ticks = static_cast<long>(number_at(11) + number_at(12));
    p.niceness = static_cast<int>(number_at(16));
    auto started = static_cast<unsigned long long>(number_at(19));
    p.pending = signal_set(status, "ShdPnd");
    p.blocked = signal_set(status, "SigBlk");
    p.ignored = signal_set(status, "SigIgn");
    p.caught = signal_set(status, "SigCgt");
    bool others =
        std::strtol(std::string(field(status, "Uid")).c_str(), nullptr, 10) != static_cast<long>(geteuid());

    std::vector<pid_t> children;
    std::snprintf(path, sizeof path, "/proc/%d/task", pid);
    DIR* tasks = opendir(path);
    if (tasks == nullptr) {
        p.ended = true;
        into.processes.push_back(std::move(p));
        return true;
    }
    const Symbols* symbols = nullptr;
    bool calls_hidden = false;
    std::string text;
    while (dirent* entry = readdir(tasks)) {
        char* end = nullptr;
        long tid = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0')
            continue;
        ThreadView t;
        t.tid = static_cast<pid_t>(tid);
        std::snprintf(path, sizeof path, "/proc/%d/task/%ld/status", pid, tid);
        if (slurp(path, text) != 0)
            continue;  // the thread has ended since the listing
        std::string_view state_line = field(text, "State");
        t.state = state_line.empty() ? '?' : state_line.front();
        t.pending = signal_set(text, "SigPnd");
        t.blocked = signal_set(text, "SigBlk");
        t.voluntary = number(text, "voluntary_ctxt_switches");
        t.involuntary = number(text, "nonvoluntary_ctxt_switches");

        std::snprintf(path, sizeof path, "/proc/%d/task/%ld/children", pid, tid);
        if (slurp(path, text) == 0) {
            const char* at = text.c_str();
            for (char* next = nullptr;; at = next) {
                long child = std::strtol(at, &next, 10);
                if (next == at)
                    break;
                children.push_back(static_cast<pid_t>(child));
            }
        }

        if (t.state != 'Z' && t.state != 'X') {
            std::snprintf(path, sizeof path, "/proc/%d/task/%ld/syscall", pid, tid);
            int error = slurp(path, text);
            if (error == EACCES || error == EPERM) {
                calls_hidden = true;
            } else if (error == 0 && text.starts_with("running")) {
                t.call = "runs";
            } else if (error == 0 && !text.starts_with("-1")) {
                // "nr arg1 arg2 ... sp pc": the number in decimal, the arguments in hex.
                char* next = nullptr;
                long nr = std::strtol(text.c_str(), &next, 10);
                unsigned long long first = std::strtoull(next, nullptr, 16);
                if (nr == 202) {
                    if (symbols == nullptr)
                        symbols = &symbols_of(pid, t.tid, started);
                    char where[40];
                    std::snprintf(where, sizeof where, "0x%llx", first);
                    t.call = "waits on " + symbols->covering(first).value_or(where);
                } else if (nr == 35 || nr == 230) {
                    t.call = "sleeps";
                } else if (nr == 61 || nr == 247) {
                    t.call = "waits for a child";
                } else if (nr == 34 || nr == 130 || nr == 128) {
                    t.call = "waits for a signal";
                } else if (nr == 0) {
                    char link[64], target[256];
                    std::snprintf(link, sizeof link, "/proc/%d/fd/%llu", pid, first);
                    ssize_t n = readlink(link, target, sizeof target - 1);
                    target[n > 0 ? n : 0] = '\0';
                    t.call = is_terminal_path(target) ? "waits for input" : "in read";
                } else if (const char* name = call_name(nr)) {
                    t.call = std::string("in ") + name;
                } else {
                    t.call = "in system call " + std::to_string(nr);
                }
            }
        }
        p.threads.push_back(std::move(t));
    }
    closedir(tasks);
    std::sort(p.threads.begin(), p.threads.end(),
        [](const ThreadView& a, const ThreadView& b) { return a.tid < b.tid; });
    if (p.threads.empty())
        p.ended = true;

    // The command's own name (comm is cut at 15 characters): the last part of argv[0], as a live
    // thread sees it, since the main thread's entry shows none once it has ended (pthread_exit).
    auto live = std::find_if(p.threads.begin(), p.threads.end(),
        [](const ThreadView& t) { return t.state != 'Z' && t.state != 'X'; });
    std::string command;
    std::snprintf(
        path, sizeof path, "/proc/%d/task/%d/cmdline", pid, live != p.threads.end() ? live->tid : pid);
    if (slurp(path, command) == 0 && !command.empty()) {
        command.resize(std::strlen(command.c_str()));
        std::size_t slash = command.rfind('/');
        if (slash != std::string::npos)
            command.erase(0, slash + 1);
        if (!command.empty())
            p.name = command;
    }

    // The process as a whole: running if any thread runs, else waiting if one is in an
    // uninterruptible wait, sleeping if one sleeps; stopped when all are; a zombie when only ended
    // threads are left. (The kernel's own process state is its first thread's, which says
    // "zombie" for a program whose main thread has ended while a worker lives on.)
    auto any = [&p](auto test) {
        return std::any_of(
            p.threads.begin(), p.threads.end(), [&](const ThreadView& t) { return test(t.state); });
    };
    if (any([](char s) { return s == 'R'; }))
        p.state = 'R';
    else if (any([](char s) { return s == 'D'; }))
        p.state = 'D';
    else if (any([](char s) { return s == 'S' || s == 'I'; }))
        p.state = 'S';
    else if (any([](char s) { return s == 'T' || s == 't'; }))
        p.state = 'T';
    else if (!p.threads.empty())
        p.state = 'Z';

    if (calls_hidden) {
        if (others)
            p.hidden = "what its threads wait in is shown only to the process's owner and to root";
        else
            p.hidden = "what its threads wait in is hidden from other processes here (the kernel's ptrace "
                       "restrictions); run peek as root to see it";
    }

    into.processes.push_back(std::move(p));
    std::sort(children.begin(), children.end());
    for (pid_t child : children) {
        std::string ignored;
        read_process(child, depth + 1, into, ignored);  // a child that has just ended is simply not shown
    }
    return true;
}

}  // namespace demo
