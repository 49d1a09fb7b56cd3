// The driver: starts one of the fourteen programs the way a person at a terminal (or a shell with
// redirections) would, lets the tour, a test or the benchmark steer it with keys and signals, and
// reads what it prints. Every wait is bounded by a deadline, and whatever a Program started is
// killed and reaped when the Program object goes away, pass or fail.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace demo {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

// How long an await may take before it counts as "never happened". Generous on purpose: an await
// returns as soon as its event comes, so only a failing test ever waits this long, and a loaded
// machine must not turn a slow event into a failure. POSIX_DEMOS_PATIENCE multiplies it.
Clock::duration patience(Clock::duration base = seconds(30));

// Where the program's standard streams go.
enum class Stdin { Pipe, Eof, File };

struct Launch {
    std::vector<std::string> args{};  // after the program's name

    // true: stdin, stdout and stderr are a pseudo-terminal whose slave is the program's controlling
    // terminal; the program leads its own session and is the foreground process group, so Ctrl-C
    // and Ctrl-\ typed by interrupt()/quit() reach it as at a real terminal.
    // false: stdout and stderr are pipes (block-buffered, as when redirected); stdin as below.
    bool terminal = true;
    bool echo = false;  // terminal echo of typed keys; off so transcripts hold only program output
    int mirror = -1;    // >= 0: everything the program prints is also copied there as it comes

    Stdin input = Stdin::Pipe;  // only when terminal == false
    std::string input_file{};   // with Stdin::File
    std::string output_file{};  // when not empty (and terminal == false): stdout goes to this file

    std::vector<std::pair<std::string, std::string>> env{};  // added to the test's environment
    std::vector<int> ignored{};     // signals set to SIG_IGN before exec, as a shell does for `cmd &`
    std::optional<int> niceness{};  // niceness set before exec
    bool unprivileged = false;      // run as user and group "nobody" (the test must be root)

    double time_scale = 0;  // > 0: sleep() and alarm() in the program run this many times faster
    // For the tests, which bring a fault-injection library (see use_fault_library):
    std::string faults{};    // not empty: plan for the fault library, e.g. "pthread_create#2=EAGAIN"
    std::string kill_log{};  // not empty: the fault library appends "<pid> <signal>\n" per kill()
};

// How a program ended, or that it had not ended by the deadline.
struct Ending {
    enum Kind { Running, Exited, Killed } kind = Running;
    int value = 0;  // exit status, or signal number
    bool operator==(const Ending&) const = default;
};
Ending exited(int status);
Ending killed_by(int signal);
std::ostream& operator<<(std::ostream& out, const Ending& ending);
std::string describe(const Ending& ending);

// The result of an await: whether it happened and, if not, what the person would have seen.
struct Check {
    bool ok = false;
    std::string what;
    explicit operator bool() const { return ok; }
};

class Program {
public:
    Program(std::string name, const Launch& launch = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    const std::string& name() const { return name_; }

    // Keys and bytes. On a terminal, interrupt() and quit() type the terminal's own interrupt and
    // quit characters; they first let the reader take everything already written, because the
    // terminal discards undelivered output when it turns such a key into a signal.
    void type(std::string_view text) const;
    void interrupt();
    void quit();
    void close_input();   // end of file on a stdin pipe
    bool echoes() const;  // whether its terminal echoes typed keys now (as the program left it)

    // Signals from outside, as `kill` would send them.
    void signal(int sig) const;           // to the program
    void signal_group(int sig) const;     // to its process group
    std::vector<pid_t> children() const;  // its child processes now
    // Waits until the program has a child and gives back its process ID (0 if none came in time).
    pid_t await_child(Clock::duration within = patience());

    // What the kernel says of the program (/proc/<pid>/status), waited for: that it has a handler
    // of its own for `sig` (before that, the signal would end it), that `sig` is held pending, and
    // that its thread sleeps in a blocking call.
    Check await_caught(int sig, Clock::duration within = patience());
    Check await_pending(int sig, Clock::duration within = patience());
    Check await_blocked(Clock::duration within = patience());
    // Any other such wait: until `holds()` says yes, while the program runs. `what` completes "waited
    // until it ...", for the failure's text.
    Check await_until(
        const std::string& what, const std::function<bool()>& holds, Clock::duration within = patience());

    // Output. On a terminal, stdout and stderr are one stream, as on the screen; line ends are
    // "\n" whatever the terminal turned them into. Reading moves a cursor: await_line and
    // await_text look only at what came after the previous match.
    Check await_line(std::string_view line, Clock::duration within = patience());
    Check await_text(std::string_view text, Clock::duration within = patience());
    Check await_lines(std::size_t count, Clock::duration within = patience());  // total lines seen
    Check silent_for(Clock::duration span);  // nothing new is printed for that long
    std::string output() const;              // everything on stdout (terminal: the screen) so far
    std::string errors() const;              // everything on stderr (pipes only)
    std::vector<std::string> lines() const;  // output() as lines; a cut last line is included
    std::string unread() const;              // output after the cursor

    // Waits for the end; after it, output() holds everything the program wrote.
    Ending await_end(Clock::duration within = patience());
    bool running();

    // What happened, with times since the start: the keys typed, the signals sent, the lines seen (a
    // flood of lines shortened to its first and last few) and the end; the last `entries` of it. A
    // failed Check carries it too.
    std::string transcript(std::size_t entries = 40) const;

private:
    void start(const Launch& launch);
    void read_loop();
    Check await(std::string_view what, Clock::duration within,
        const std::function<std::optional<std::size_t>(const std::string&, std::size_t)>& find);
    void type_signal_key(int index) const;
    Check await_status(const std::string& what, Clock::duration within,
        const std::function<bool(const std::string&)>& ready);
    void stop_everything();
    void note(const std::string& event) const;
    void note_line(const std::string& line, bool is_err) const;  // with lock_ held
    std::string transcript_locked(std::size_t entries) const;

    std::string name_;
    pid_t pid_ = -1;
    bool reaped_ = false;
    Ending ending_;
    bool terminal_ = true;
    int input_ = -1;           // pty master or stdin pipe (write side)
    int master_ = -1;          // pty master (terminal mode)
    int out_ = -1, err_ = -1;  // pipe read sides (pipe mode)
    int wake_[2] = {-1, -1};   // tells the reader thread to stop
    std::string out_file_;
    int mirror_ = -1;
    std::string private_dir_;  // copies of the binary for an unprivileged run

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::string out_text_, err_text_;
    bool out_closed_ = false, err_closed_ = false;
    std::size_t cursor_ = 0;

    // The transcript, under lock_. A run of lines between two events keeps its first few in
    // events_ and its last few in tail_, counting those dropped in between.
    Clock::time_point started_ = Clock::now();
    mutable std::vector<std::string> events_;
    mutable std::vector<std::string> tail_;
    mutable std::size_t run_lines_ = 0, dropped_ = 0;
    std::string partial_out_, partial_err_;

    std::thread reader_;
};

// Where things are found at run time, relative to the running executable (/proc/self/exe), so that
// the same binary works in the build tree, in an install prefix and in a package unpacked anywhere.
// The programs are beside it (posix-demos sits in bin/ with them) or, for an executable elsewhere in
// the build tree such as a test, in ../bin; the time-scaling library sits at a fixed place relative to
// the programs' folder. Both throw std::runtime_error naming what is missing and where it was looked
// for.
std::string executable_dir();
std::string program_path(std::string_view name);
std::string timescale_path();

// The preload library that makes chosen calls fail (Launch::faults, Launch::kill_log) is part of the
// tests, not of the stage: they say where it is before they start a program with it.
void use_fault_library(std::string path);

// Whether the programs were built with ThreadSanitizer, whose runtime changes two things they
// show: it runs a signal handler only once the program next calls into the C library (a busy poll
// never does), and its own thread keeps a process alive after its main thread has ended.
bool thread_sanitized();

}  // namespace demo
