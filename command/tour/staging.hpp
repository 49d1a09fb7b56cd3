// Staging and checking: a program started on the tour's screen, ended and reaped whatever happens,
// and the checks that turn what was seen into a scene's failure.
#pragma once

#include <csignal>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "driver.hpp"
#include "screen.hpp"
#include "view_text.hpp"

namespace tour {

using demo::Check;
using demo::Ending;
using demo::Launch;
using demo::Program;

// The process groups of the programs running now. If the tour itself is ended by a signal (the viewer
// presses Ctrl-C), the handler ends them, since each runs in a session of its own that the viewer's
// keys never reach.
constexpr int stage_size = 4;
extern volatile std::sig_atomic_t on_stage[stage_size];

// The tour's handler for the signals that end it (Ctrl-C and the like): ends every program on stage,
// gives the viewer's terminal its settings back, then ends the tour by the same signal.
void end_the_show(int sig);

// While a scene plays, the keys the viewer types at `keys` (a terminal, or -1 for none) are not
// echoed; afterwards they are discarded and the terminal is as it was.
void hush_viewer(int keys);
void unhush_viewer();

// A scene's failure: what the person at the terminal saw instead of what was promised.
struct Failed {
    std::string what;
};

// A scene that can't be played faithfully in this build.
struct Skipped {
    std::string why;
};

inline void need(const Check& check)
{
    if (!check)
        throw Failed{check.what};
}

inline void need(bool ok, const std::string& what_was_seen)
{
    if (!ok)
        throw Failed{what_was_seen};
}

// How the screen shows a program being started: "$ name args".
std::string shown_as_command(const std::string& name, const Launch& launch);

// One program, started at a pseudo-terminal with its output on the screen, as "$ name args" shows.
// It is killed and reaped when the object goes away, whatever happened in the scene.
class Staged {
public:
    Staged(const std::string& name, Launch launch = {}, const std::string& note = "",
        const std::string& label = "")
        : backstage_(screen().open(label)), program_(name, begin(name, std::move(launch), note))
    {
        for (volatile std::sig_atomic_t& group : on_stage)
            if (group == 0) {
                backstage_.slot = &group;
                group = program_.pid();
                break;
            }
    }

    Program* operator->() { return &program_; }
    Program& operator*() { return program_; }

    // Waits for the end and checks it; the screen then shows all the program printed.
    void need_end(const Ending& expected)
    {
        Ending ending = program_.await_end();
        screen().finish(backstage_.mirror);
        need(ending == expected,
            program_.name() + " " + demo::describe(ending) + " (expected: " + demo::describe(expected) + ")" +
                program_.transcript());
    }

private:
    Launch begin(const std::string& name, Launch launch, const std::string& note) const
    {
        launch.terminal = true;
        launch.mirror = backstage_.mirror;
        say(shown_as_command(name, launch) + (note.empty() ? "" : "      # " + note));
        return launch;
    }

    // Declared before the program, so that it is let go of after the program has been ended.
    struct Backstage {
        int mirror;
        volatile std::sig_atomic_t* slot = nullptr;
        explicit Backstage(int fd) : mirror(fd) { }
        ~Backstage()
        {
            if (slot != nullptr)
                *slot = 0;
            screen().close_source(mirror);
        }
        Backstage(const Backstage&) = delete;
        Backstage& operator=(const Backstage&) = delete;
    } backstage_;
    Program program_;
};

// How many lines of `text` are exactly `line`.
int count_lines(const std::string& text, const std::string& line);
// The lines of `text` that ended with a newline.
std::vector<std::string> whole_lines(const std::string& text);
// What a program printed, indented as on the screen, for a failure to quote.
std::string printed(const Program& program);
// The program's whole output must be these lines.
void need_lines(const Program& program, const std::vector<std::string>& expected);
// Shows a few lines of what `posix-demos peek PID` shows of `pid`, those of the parts given, once
// they hold every one of `wanted`: a viewer can see the same from a second terminal. When the kernel
// hides what the threads wait in (ptrace restrictions), the scene shows the view as it is and goes on.
void show_view(
    pid_t pid, std::initializer_list<demo::Part> parts, std::initializer_list<std::string_view> wanted);

void pause_for(milliseconds span);
int own_niceness();

}  // namespace tour
