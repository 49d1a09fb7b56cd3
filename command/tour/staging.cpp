#include "staging.hpp"

#include <algorithm>
#include <sstream>
#include <thread>

#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace tour {

volatile std::sig_atomic_t on_stage[stage_size] = {};

namespace {

// The viewer's terminal while a scene plays: its settings from before, to put back. -1: not hushed.
termios viewer_mode{};
volatile std::sig_atomic_t hushed = -1;

}  // namespace

void hush_viewer(int keys)
{
    // Only a tour in the foreground may change the terminal; one in the background would be stopped.
    if (keys < 0 || tcgetpgrp(keys) != getpgrp() || tcgetattr(keys, &viewer_mode) != 0)
        return;
    termios quiet = viewer_mode;
    // No echo, so that a key typed in a scene never lands among the program's lines; the interrupt
    // key still ends the tour.
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (tcsetattr(keys, TCSANOW, &quiet) == 0)
        hushed = keys;
}

void unhush_viewer()
{
    int keys = hushed;
    if (keys < 0)
        return;
    tcflush(keys, TCIFLUSH);  // what was typed during the scene is not an answer to the next prompt
    tcsetattr(keys, TCSANOW, &viewer_mode);  // as it was; nothing more to do if that fails
    hushed = -1;
}

void end_the_show(int sig)
{
    for (volatile std::sig_atomic_t& group : on_stage)
        if (group > 0)
            kill(-group, SIGKILL);
    if (hushed >= 0)
        tcsetattr(hushed, TCSANOW, &viewer_mode);  // the viewer's shell gets its echo back
    static const char note[] = "\n[tour] stopped; every program it started has been ended.\n";
    if (write(2, note, sizeof note - 1) < 0) {
        // Nothing more to do on the way out.
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string shown_as_command(const std::string& name, const Launch& launch)
{
    std::string command = "$ " + name;
    for (const std::string& arg : launch.args)
        command += " " + arg;
    return command;
}

int count_lines(const std::string& text, const std::string& line)
{
    int count = 0;
    std::istringstream lines(text);
    for (std::string each; std::getline(lines, each);)
        if (each == line)
            ++count;
    return count;
}

std::vector<std::string> whole_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text.substr(0, text.rfind('\n') + 1));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string printed(const Program& program)
{
    std::string text = program.output();
    if (text.empty())
        return " nothing";
    std::string quoted = ":";
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        quoted += "\n  | " + line;
    return quoted;
}

void need_lines(const Program& program, const std::vector<std::string>& expected)
{
    if (program.lines() == expected)
        return;
    std::string wanted;
    for (const std::string& line : expected)
        wanted += "\n  | " + line;
    throw Failed{program.name() + " printed" + printed(program) + "\nwhere it should have printed:" + wanted};
}

void show_view(
    pid_t pid, std::initializer_list<demo::Part> parts, std::initializer_list<std::string_view> wanted)
{
    std::vector<demo::ViewLine> lines;
    auto shows = [&](std::string_view text) {
        return std::any_of(lines.begin(), lines.end(),
            [text](const demo::ViewLine& line) { return line.text.find(text) != std::string::npos; });
    };
    auto hidden = [&] {
        return std::any_of(lines.begin(), lines.end(),
            [](const demo::ViewLine& line) { return line.part == demo::Part::hidden; });
    };
    auto complete = [&] { return std::all_of(wanted.begin(), wanted.end(), shows); };
    // A thread may still be on its way into the call the scene is about: look again for a while,
    // and only briefly when the kernel hides the calls, since those may then never show.
    auto start = Clock::now(), until = start + demo::patience(demo::seconds(5));
    for (lines = demo::glimpse(pid, parts);
         !complete() && Clock::now() < until && !(hidden() && Clock::now() > start + milliseconds(300));
         lines = demo::glimpse(pid, parts))
        pause_for(milliseconds(10));
    // One block on the screen, so that a program printing meanwhile can't come between its lines.
    std::string seen;
    for (const demo::ViewLine& line : lines)
        seen += "\n  peek | " + line.text;
    act(format("posix-demos peek %d shows (try it from a second terminal):", pid) + seen);
    for (std::string_view text : wanted)
        need(shows(text) || hidden(),
            "posix-demos peek never showed \"" + std::string(text) +
                "\"; it showed:" + (seen.empty() ? " nothing" : seen));
}

void pause_for(milliseconds span)
{
    std::this_thread::sleep_for(span);
}

int own_niceness()
{
    return getpriority(PRIO_PROCESS, 0);
}

}  // namespace tour
