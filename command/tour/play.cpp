// posix-demos tour — plays the fourteen programs one after another, as a teacher would in front of a
// class.
//
// Each scene says what to watch, starts one program at a pseudo-terminal with its output shown live
// (indented, "  | "), steers it as a person would (Enter, Ctrl-C, kill to a child, show_niceness at a
// running renice_self) and prints each of those steps as "[tour] ...", then says what was seen and
// checks it against what the program promises. A scene whose program did not keep its promise is
// marked FAILED, and the tour then ends with status 1.
//
//   posix-demos tour           every scene; at a terminal it waits for Enter between scenes, otherwise
//                              (input and screen not a terminal, as in a test) it plays straight through
//   posix-demos tour NAME...   only the scenes of those programs
//   posix-demos tour --list    the scenes, in order
//
// Handlers that sleep 100 seconds, ten-second pauses and alarms are played with time running faster,
// and the scene says so. Ctrl-C ends the tour and every program it started.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "../commands.hpp"
#include "scenes.hpp"
#include "screen.hpp"
#include "staging.hpp"

namespace tour {
namespace {

struct Scene {
    const char* name;
    const char* about;
    void (*play)();
};

const Scene scenes[] = {
    {"unguarded_tally", "two threads lose updates of one unlocked counter", unguarded_tally},
    {"guarded_tally", "the same counting under a mutex: 1, then 2", guarded_tally},
    {"wait_wake_handoff", "one thread waits on a condition variable, the other signals it",
        wait_wake_handoff},
    {"enter_gate", "Enter takes and gives back a binary semaphore; the greetings stop and resume",
        enter_gate},
    {"permit_drain", "ten permits: ten takes pass, the eleventh blocks until Ctrl-C", permit_drain},
    {"interrupt_release", "Ctrl-C's handler posts a semaphore and frees a waiting thread", interrupt_release},
    {"even_odd_turns", "two threads print in batches of five and yield; Ctrl-C", even_odd_turns},
    {"replaced_alarm", "a second alarm replaces the first: the handler runs once", replaced_alarm},
    {"rearmed_alarm", "the handler re-arms the alarm: a line every two seconds", rearmed_alarm},
    {"interrupt_tally", "presses during a handler run merge into one more run", interrupt_tally},
    {"interrupt_child", "a parent interrupts its child and reports the cause", interrupt_child},
    {"child_exit_notice", "SIGCHLD on the child's stop, continue and end; copied memory", child_exit_notice},
    {"renice_self", "raises its niceness to 10, lowering its priority; watched by show_niceness",
        renice_self},
    {"show_niceness", "prints any process's niceness; an error for one that does not exist", show_niceness},
};

enum class Outcome { kept, skipped, failed };

Outcome play(const Scene& scene, std::size_t number, std::size_t count)
{
    std::string title = format("== %zu/%zu  %s ", number, count, scene.name);
    title.resize(std::max<std::size_t>(title.size(), 100), '=');
    say("");
    say(title);
    std::string failure;
    auto begun = Clock::now();
    try {
        scene.play();
    } catch (const Skipped& skipped) {
        screen().limit(0);
        say(std::string("-- ") + scene.name + ": skipped: " + skipped.why);
        return Outcome::skipped;
    } catch (const Failed& failed) {
        failure = failed.what;
    } catch (const std::exception& error) {
        failure = error.what();
    }
    screen().limit(0);
    double took = std::chrono::duration<double>(Clock::now() - begun).count();
    if (failure.empty()) {
        say(format("-- %s: as promised (%.1f s)", scene.name, took));
        return Outcome::kept;
    }
    say(std::string("-- ") + scene.name + ": FAILED: " + failure);
    return Outcome::failed;
}

// Where the viewer's Enter comes from, or -1 to play straight through: standard input when it is a
// terminal; else the controlling terminal when the screen is one, since a build tool may hand the
// tour an empty input (`cmake --workflow` gives it /dev/null) while the viewer sits at the screen.
int viewer_keys()
{
    if (isatty(0))
        return 0;
    if (!isatty(1))
        return -1;
    return ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
}

// At a terminal, the viewer sets the pace. False when they want to stop.
bool await_viewer(int keys, const char* next)
{
    std::printf("\n[Enter: next scene, %s; q and Enter: end the tour] ", next);
    std::fflush(stdout);
    std::string answer;
    for (char c = 0; c != '\n';) {
        ssize_t got = read(keys, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        if (c != '\n')
            answer.push_back(c);
    }
    return answer != "q";
}

}  // namespace
}  // namespace tour

int tour_main(int argc, char* argv[])
{
    using namespace tour;
    std::vector<const Scene*> chosen;
    for (int k = 1; k < argc; ++k) {
        std::string arg = argv[k];
        if (arg == "--help" || arg == "-h") {
            std::printf("usage: posix-demos tour [NAME...]   plays every scene, or only those named\n"
                        "       posix-demos tour --list      lists the scenes\n");
            return 0;
        }
        if (arg == "--list") {
            for (const Scene& scene : scenes)
                std::printf("%-18s %s\n", scene.name, scene.about);
            return 0;
        }
        auto found =
            std::find_if(std::begin(scenes), std::end(scenes), [&](const Scene& s) { return arg == s.name; });
        if (found == std::end(scenes)) {
            std::fprintf(stderr,
                "posix-demos tour: no scene named \"%s\" (posix-demos tour --list shows them)\n", argv[k]);
            return 2;
        }
        chosen.push_back(&*found);
    }
    if (chosen.empty())
        for (const Scene& scene : scenes)
            chosen.push_back(&scene);

    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(sig, end_the_show);
    int keys = viewer_keys();

    say("A guided tour of posix-demos: each program runs at a pseudo-terminal of its own, and what it");
    say("prints is shown indented (\"  | \"). Lines starting with [tour] are what the tour does, as you");
    say("would at the keyboard or from a second terminal.");
    std::string failed, skipped;
    std::size_t played = 0, failures = 0;
    auto begun = Clock::now();
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        if (keys >= 0 && k > 0 && !await_viewer(keys, chosen[k]->name))
            break;
        hush_viewer(keys);
        Outcome outcome = play(*chosen[k], k + 1, chosen.size());
        unhush_viewer();
        std::string& list = outcome == Outcome::failed ? failed : skipped;
        if (outcome != Outcome::kept)
            list += (list.empty() ? "" : ", ") + std::string(chosen[k]->name);
        failures += outcome == Outcome::failed ? 1 : 0;
        ++played;
    }
    double took = std::chrono::duration<double>(Clock::now() - begun).count();
    say("");
    std::string also = skipped.empty() ? "" : "; skipped: " + skipped;
    if (failures == 0) {
        say(format(
            "The tour is over: %zu of %zu scenes played, every program behaved as promised (%.0f s%s).",
            played, chosen.size(), took, also.c_str()));
        return 0;
    }
    say(format("The tour is over: %zu of %zu scenes FAILED: %s (%.0f s%s).", failures, played, failed.c_str(),
        took, also.c_str()));
    return 1;
}
