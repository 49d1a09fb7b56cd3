// posix-demos peek: one snapshot when the output is not a terminal (or with --once); at a terminal,
// a view redrawn ten times a second, with what changed in the last second highlighted, until the
// process ends, q is pressed or Ctrl-C. The terminal is left as it was found.

#include "commands.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "view_text.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto frame = std::chrono::milliseconds(100);
constexpr int highlight_frames = 10;  // a change stays marked for a second, long enough to see

volatile std::sig_atomic_t stop_asked = 0;
volatile std::sig_atomic_t suspend_asked = 0;

void on_stop(int)
{
    stop_asked = 1;
}

void on_suspend(int)
{
    suspend_asked = 1;
}

int usage()
{
    std::fputs("usage: posix-demos peek PID [--once]\n", stderr);
    return 2;
}

void write_all(std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;  // the terminal has gone: nothing more to show anyone
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string plain(const std::vector<demo::ViewLine>& lines)
{
    std::string text;
    for (const demo::ViewLine& line : lines)
        text += line.text + "\n";
    return text;
}

bool has_ended(const demo::Snapshot& s)
{
    return s.processes.empty() || s.processes.front().state == 'Z' || s.processes.front().ended;
}

// The terminal as the view needs it, and back as it was.
class Screen {
public:
    Screen(bool fancy, bool keys) : fancy_(fancy), keys_(keys) { enter(); }
    ~Screen() { leave(); }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    void enter()
    {
        if (keys_ && tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios raw = saved_;
            // Keys one at a time and unechoed; Ctrl-C still makes a SIGINT.
            raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            changed_ = tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) == 0;
        }
        if (fancy_)
            write_all("\x1b[?1049h\x1b[?25l");  // the alternate screen, cursor hidden
    }

    void leave()
    {
        if (fancy_)
            write_all("\x1b[?25h\x1b[?1049l");
        if (changed_)
            tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_);
        changed_ = false;
    }

private:
    bool fancy_, keys_;
    bool changed_ = false;
    termios saved_{};
};

int live(pid_t pid, demo::KernelView& kernel, demo::Snapshot first)
{
    const char* term = std::getenv("TERM");
    const char* no_colour = std::getenv("NO_COLOR");
    bool dumb = term == nullptr || std::string_view(term) == "dumb";
    bool colour = !dumb && (no_colour == nullptr || *no_colour == '\0');
    bool keys = isatty(STDIN_FILENO) != 0;

    struct sigaction action { };
    action.sa_handler = on_stop;  // no SA_RESTART: the wait for a key returns at once
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(sig, &action, nullptr);
    action.sa_handler = on_suspend;
    sigaction(SIGTSTP, &action, nullptr);

    std::map<std::string, std::pair<std::string, int>> seen;  // key: text, frames left to mark it
    demo::Snapshot now = std::move(first);
    std::vector<std::pair<Clock::time_point, demo::Snapshot>> history;  // for the processor share
    std::string last_frame;
    bool ended = false;
    {
        Screen screen(!dumb, keys);
        for (bool first_frame = true;; first_frame = false) {
            auto taken = Clock::now();
            // The share of a processor over about the last second.
            const demo::Snapshot* before = nullptr;
            double seconds = 0;
            if (!history.empty()) {
                before = &history.front().second;
                seconds = std::chrono::duration<double>(taken - history.front().first).count();
            }
            std::vector<demo::ViewLine> lines = demo::view_lines(now, before, seconds);
            history.emplace_back(taken, now);
            if (history.size() > 10)
                history.erase(history.begin());

            winsize size{};
            if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0)
                size = {24, 80, 0, 0};
            std::string out = dumb ? "" : "\x1b[H";
            std::size_t room = static_cast<std::size_t>(size.ws_row) - 1;
            std::size_t shown = 0;
            for (const demo::ViewLine& line : lines) {
                auto& [text, marked] = seen[line.key];
                if (text != line.text) {
                    marked = first_frame ? 0 : highlight_frames;
                    text = line.text;
                } else if (marked > 0) {
                    --marked;
                }
                if (shown++ >= room)
                    continue;
                std::string visible =
                    line.text.substr(0, static_cast<std::size_t>(size.ws_col) - (colour ? 1 : 3));
                if (colour)
                    out += marked > 0 ? "\x1b[1;33m" + visible + "\x1b[0m" : visible;
                else
                    out += (marked > 0 ? "* " : "  ") + visible;
                out += dumb ? "\n" : "\x1b[K\n";
            }
            if (shown > room)
                out += "(" + std::to_string(shown - room) + " more lines: a taller window shows them)";
            if (!dumb)
                out += "\x1b[J";
            // A dumb terminal can't redraw in place: it gets a new frame only when something changed.
            std::string frame_text = plain(lines);
            if (!dumb || frame_text != last_frame)
                write_all(dumb && !first_frame ? "\n" + out : out);
            last_frame = frame_text;

            if (has_ended(now)) {
                ended = true;
                break;
            }
            // Wait out the frame, watching for q.
            auto until = taken + frame;
            bool quit = false;
            while (!quit && !stop_asked && !suspend_asked && Clock::now() < until) {
                int left =
                    static_cast<int>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count()) +
                    1;
                pollfd key{STDIN_FILENO, POLLIN, 0};
                if (keys && poll(&key, 1, left) > 0) {
                    char typed[16];
                    ssize_t n = read(STDIN_FILENO, typed, sizeof typed);
                    if (n <= 0)
                        keys = false;  // the terminal has gone away: only Ctrl-C or the end remain
                    for (ssize_t i = 0; i < n; ++i)
                        quit = quit || typed[i] == 'q' || typed[i] == 'Q';
                } else if (!keys) {
                    usleep(static_cast<useconds_t>(left) * 1000);
                }
            }
            if (quit || stop_asked)
                break;
            if (suspend_asked) {
                // Ctrl-Z: give the terminal back as it was, stop, and take it again when continued.
                suspend_asked = 0;
                screen.leave();
                std::signal(SIGTSTP, SIG_DFL);
                std::raise(SIGTSTP);
                sigaction(SIGTSTP, &action, nullptr);
                screen.enter();
                seen.clear();
            }
            demo::Snapshot next = kernel.take(pid);
            if (next.processes.empty()) {
                ended = true;
                break;
            }
            now = std::move(next);
        }
    }
    // The alternate screen is gone with the view: leave its last state on the normal screen.
    if (!dumb)
        write_all(last_frame);
    if (ended) {
        std::string note = std::to_string(pid) + " has ended.\n";
        write_all(note);
    }
    return 0;
}

}  // namespace

int peek_main(int argc, char* argv[])
{
    bool once = false;
    long pid = 0;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--once") {
            once = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs("usage: posix-demos peek PID [--once]\n"
                       "Shows what the kernel knows of process PID and its children: states, niceness,\n"
                       "what each thread waits in, context switches and signal sets. At a terminal it\n"
                       "is redrawn ten times a second until the process ends, q or Ctrl-C.\n",
                stdout);
            return 0;
        } else if (pid == 0 && !arg.empty() &&
            arg.find_first_not_of("0123456789") == std::string_view::npos) {
            errno = 0;
            pid = std::strtol(argv[i], nullptr, 10);
            if (errno != 0 || pid <= 0 || pid != static_cast<pid_t>(pid)) {
                std::fprintf(stderr, "posix-demos peek: %s is not a process ID\n", argv[i]);
                return 2;
            }
        } else {
            return usage();
        }
    }
    if (pid == 0)
        return usage();

    demo::KernelView kernel;
    demo::Snapshot snapshot = kernel.take(static_cast<pid_t>(pid));
    if (snapshot.processes.empty()) {
        std::fprintf(stderr, "posix-demos peek: %ld: %s\n", pid, snapshot.failure.c_str());
        return 1;
    }
    if (once || isatty(STDOUT_FILENO) == 0) {
        std::string text = plain(demo::view_lines(snapshot));
        if (std::fputs(text.c_str(), stdout) == EOF || std::fflush(stdout) == EOF) {
            std::fprintf(stderr, "posix-demos peek: writing the view: %s\n", std::strerror(errno));
            return 1;
        }
        return 0;
    }
    pid_t shown = snapshot.processes.front().pid;  // a thread's ID stands for its process
    return live(shown, kernel, std::move(snapshot));
}
