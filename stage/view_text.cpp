#include "view_text.hpp"

#include <algorithm>
#include <cstdio>

#include <unistd.h>

namespace demo {

namespace {

std::string padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

void add_process(
    std::vector<ViewLine>& lines, const ProcessView& p, const ProcessView* before, double seconds)
{
    static const double ticks_per_second = static_cast<double>(sysconf(_SC_CLK_TCK));
    std::string indent(static_cast<std::size_t>(p.depth) * 2, ' ');
    std::string key = std::to_string(p.pid);
    std::string heading = indent + std::to_string(p.pid) + " " + p.name;
    if (p.depth > 0)
        heading += " (child of " + std::to_string(p.parent) + ")";
    if (p.ended && p.threads.empty()) {
        lines.push_back({key, heading + "  ended during the snapshot", Part::heading});
        return;
    }
    char cpu[64];
    std::snprintf(cpu, sizeof cpu, "CPU %.2f s", static_cast<double>(p.cpu_ticks) / ticks_per_second);
    heading += "  " + state_word(p.state) + "  niceness " + std::to_string(p.niceness) + "  " + cpu;
    if (before != nullptr && seconds > 0) {
        double used = static_cast<double>(p.cpu_ticks - before->cpu_ticks) / ticks_per_second;
        std::snprintf(cpu, sizeof cpu, " (%.0f %% of a processor)", std::max(0.0, used / seconds * 100));
        heading += cpu;
    }
    if (p.ended)
        heading += "  ended during the snapshot";
    lines.push_back({key, heading, Part::heading});

    // The threads in columns, so that a change in one shows as a change in one place.
    auto label = [&p](const ThreadView& t) {
        return "thread " + std::to_string(t.tid) + (t.tid == p.pid ? " (main)" : "");
    };
    auto call = [&p](const ThreadView& t) -> std::string {
        if (t.state == 'Z' || t.state == 'X')
            return "has ended";
        if (t.call.empty() && !p.hidden.empty())
            return "call not shown";
        return t.call;
    };
    std::size_t label_width = 0, call_width = 0;
    for (const ThreadView& t : p.threads) {
        label_width = std::max(label_width, label(t).size());
        call_width = std::max(call_width, call(t).size());
    }
    for (const ThreadView& t : p.threads) {
        std::string thread_key = key + " thread " + std::to_string(t.tid);
        std::string line = indent + "  " + padded(label(t), label_width) + "  " +
            padded(state_word(t.state), 8) + "  " + padded(call(t), call_width);
        if (t.voluntary >= 0)
            line += "  switches " + std::to_string(t.voluntary) + " voluntary, " +
                std::to_string(t.involuntary) + " involuntary";
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back({thread_key, line, Part::threads});
        // A thread's own sets, where they differ from the process's.
        if (t.blocked != p.blocked && t.state != 'Z')
            lines.push_back(
                {thread_key + " blocked", indent + "    blocked  " + signal_names(t.blocked), Part::blocked});
        if (t.pending != 0)
            lines.push_back(
                {thread_key + " pending", indent + "    pending  " + signal_names(t.pending), Part::pending});
    }

    struct Set {
        const char* label;
        SignalSet set;
        Part part;
    };
    const Set sets[] = {{"pending", p.pending, Part::pending}, {"blocked", p.blocked, Part::blocked},
        {"ignored", p.ignored, Part::ignored}, {"caught ", p.caught, Part::caught}};
    for (const Set& s : sets)
        lines.push_back({key + " " + s.label, indent + "  " + s.label + "  " + signal_names(s.set), s.part});
    if (!p.hidden.empty())
        lines.push_back({key + " hidden", indent + "  (" + p.hidden + ")", Part::hidden});
}

}  // namespace

std::vector<ViewLine> view_lines(const Snapshot& now, const Snapshot* before, double seconds)
{
    std::vector<ViewLine> lines;
    for (const ProcessView& p : now.processes) {
        const ProcessView* earlier = nullptr;
        if (before != nullptr)
            for (const ProcessView& q : before->processes)
                if (q.pid == p.pid)
                    earlier = &q;
        add_process(lines, p, earlier, seconds);
    }
    return lines;
}

std::vector<ViewLine> glimpse(pid_t pid, std::initializer_list<Part> parts)
{
    KernelView kernel;
    Snapshot snapshot = kernel.take(pid);
    std::vector<ViewLine> lines;
    if (snapshot.processes.empty())
        return lines;
    snapshot.processes.resize(1);
    for (ViewLine& line : view_lines(snapshot))
        if (line.part == Part::hidden || std::find(parts.begin(), parts.end(), line.part) != parts.end())
            lines.push_back(std::move(line));
    return lines;
}

}  // namespace demo
