#include "driver.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "processes.hpp"

namespace demo {

namespace {

constexpr uid_t nobody = 65534;
constexpr int sanitizer_status = 66;  // the exit status the test presets give sanitizer reports

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// The last few lines of a text, for messages that say what the person saw.
std::string excerpt(const std::string& text)
{
    if (text.empty())
        return "nothing";
    std::size_t start = text.size() - 1;  // a final newline ends the last line, it starts none
    int lines = 0;
    while (start > 0 && lines < 12)
        if (text[--start] == '\n')
            ++lines;
    if (lines == 12)
        return "\n...\n" + text.substr(start + 1);
    return "\n" + text;
}

// Keys as a person would name them: "\n" for Enter, ^C for a control character.
std::string shown_keys(std::string_view keys)
{
    std::string text;
    for (char c : keys) {
        if (c == '\n')
            text += "\\n";
        else if (static_cast<unsigned char>(c) < 32 || c == 127)
            text += std::string("^") + static_cast<char>(c == 127 ? '?' : c + 64);
        else
            text += c;
    }
    return text;
}

constexpr std::size_t run_kept = 4;  // lines kept at each end of a run of lines between two events

void write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("writing to the program");
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

Clock::duration patience(Clock::duration base)
{
    static const double factor = [] {
        const char* text = std::getenv("POSIX_DEMOS_PATIENCE");
        double value = text ? std::strtod(text, nullptr) : 1.0;
        return value > 0 ? value : 1.0;
    }();
    return std::chrono::duration_cast<Clock::duration>(base * factor);
}

Ending exited(int status)
{
    return {Ending::Exited, status};
}
Ending killed_by(int signal)
{
    return {Ending::Killed, signal};
}

std::string describe(const Ending& ending)
{
    switch (ending.kind) {
    case Ending::Exited:
        return "exited with status " + std::to_string(ending.value);
    case Ending::Killed:
        return "was ended by " + signal_name(ending.value);
    case Ending::Running:
        break;
    }
    return "was still running";
}

std::ostream& operator<<(std::ostream& out, const Ending& ending)
{
    return out << describe(ending);
}

std::string executable_dir()
{
    static const std::string dir = [] {
        std::error_code error;
        std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (error)
            throw std::runtime_error("cannot tell where this program is: /proc/self/exe: " + error.message());
        return self.parent_path().string();
    }();
    return dir;
}

namespace {

// The folders that may hold the programs, in the order they are tried.
std::vector<std::string> program_dirs()
{
    return {executable_dir(), executable_dir() + "/../bin"};
}

std::string first_found(const std::string& what, const std::string& relative, int access_mode)
{
    std::string looked;
    for (const std::string& dir : program_dirs()) {
        std::string candidate = (std::filesystem::path(dir) / relative).lexically_normal().string();
        if (access(candidate.c_str(), access_mode) == 0)
            return candidate;
        looked += (looked.empty() ? "" : " and ") + candidate;
    }
    throw std::runtime_error(what + " not found: looked for " + looked);
}

// A function's own, so that a test's static initializer can set it before this file's are run.
std::string& fault_library()
{
    static std::string path;
    return path;
}

}  // namespace

std::string program_path(std::string_view name)
{
    return first_found("the program " + std::string(name), std::string(name), X_OK);
}

std::string timescale_path()
{
    return first_found("the time-scaling library", POSIX_DEMOS_TIMESCALE_FROM_BIN "/libtimescale.so", R_OK);
}

void use_fault_library(std::string path)
{
    fault_library() = std::move(path);
}

bool thread_sanitized()
{
    return std::string_view(POSIX_DEMOS_SANITIZE).find("thread") != std::string_view::npos;
}

Program::Program(std::string name, const Launch& launch) : name_(std::move(name))
{
    // Children of a program whose parent has ended come to us, so that they too are reaped.
    static const bool subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    (void)subreaper;
    start(launch);
    reader_ = std::thread([this] { read_loop(); });
}

Program::~Program()
{
    stop_everything();
}

void Program::start(const Launch& launch)
{
    terminal_ = launch.terminal;
    mirror_ = launch.mirror;
    std::string path = program_path(name_);
    std::string timescale = launch.time_scale > 0 ? timescale_path() : "";
    bool faulty = !launch.faults.empty() || !launch.kill_log.empty();
    if (faulty && fault_library().empty())
        throw std::logic_error("a fault plan or kill log needs use_fault_library() first");
    std::string faults = faulty ? fault_library() : "";

    if (launch.unprivileged) {
        // The build tree may sit below a folder that only root can enter: give the unprivileged run
        // its own copies in a folder anyone can read.
        char dir[] = "/tmp/posix-demos-XXXXXX";
        if (mkdtemp(dir) == nullptr)
            fail("mkdtemp");
        private_dir_ = dir;
        namespace fs = std::filesystem;
        fs::permissions(dir,
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                fs::perms::others_exec);
        for (std::string* file : {&path, &timescale, &faults}) {
            if (file->empty())
                continue;
            std::string copy = private_dir_ + "/" + fs::path(*file).filename().string();
            fs::copy_file(*file, copy, fs::copy_options::overwrite_existing);
            *file = copy;
        }
    }

    // Everything the child needs is made before the fork: after it, only system calls are safe.
    std::vector<std::string> argv_text{path};
    argv_text.insert(argv_text.end(), launch.args.begin(), launch.args.end());
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e)
        env_text.emplace_back(*e);
    auto set_env = [&env_text](const std::string& key, const std::string& value) {
        std::erase_if(env_text, [&key](const std::string& e) { return e.starts_with(key + "="); });
        env_text.push_back(key + "=" + value);
    };
    std::string preload;
    if (launch.time_scale > 0) {
        preload = timescale;
        std::ostringstream scale;
        scale << launch.time_scale;
        set_env("POSIX_DEMOS_TIME_SCALE", scale.str());
    }
    if (faulty) {
        preload += (preload.empty() ? "" : ":") + faults;
        if (!launch.faults.empty())
            set_env("POSIX_DEMOS_FAULTS", launch.faults);
        if (!launch.kill_log.empty())
            set_env("POSIX_DEMOS_KILL_LOG", launch.kill_log);
    }
    if (!preload.empty()) {
        set_env("LD_PRELOAD", preload);
        // An address-sanitized program wants its runtime first; ours come first on purpose.
        if (std::string_view(POSIX_DEMOS_SANITIZE).find("address") != std::string_view::npos) {
            const char* old = std::getenv("ASAN_OPTIONS");
            set_env(
                "ASAN_OPTIONS", std::string(old ? old : "") + (old ? ":" : "") + "verify_asan_link_order=0");
        }
    }
    for (const auto& [key, value] : launch.env)
        set_env(key, value);
    if (launch.unprivileged) {
        // A sanitizer's suppression file must be readable by that user too.
        for (std::string& e : env_text) {
            std::size_t at = e.find("suppressions=");
            while (at != std::string::npos && e[at - 1] == '_')  // not print_suppressions=
                at = e.find("suppressions=", at + 1);
            if (e.find("SAN_OPTIONS=") == std::string::npos || at == std::string::npos)
                continue;
            at += std::string_view("suppressions=").size();
            std::size_t end = std::min(e.find_first_of(" :", at), e.size());
            namespace fs = std::filesystem;
            std::string copy = private_dir_ + "/" + fs::path(e.substr(at, end - at)).filename().string();
            fs::copy_file(e.substr(at, end - at), copy, fs::copy_options::overwrite_existing);
            e.replace(at, end - at, copy);
        }
    }
    std::vector<char*> argv, envp;
    for (std::string& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : env_text)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int in_fd = -1, out_fd = -1, err_fd = -1;  // the child's ends
    std::string slave_name;
    if (terminal_) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            fail("posix_openpt");
        char name[128];
        if (ptsname_r(master_, name, sizeof name) != 0)
            fail("ptsname_r");
        slave_name = name;
        int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            fail("open pty slave");
        termios mode{};
        tcgetattr(slave, &mode);
        if (launch.echo)
            mode.c_lflag |= ECHO;
        else
            mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(slave, TCSANOW, &mode);
        winsize size{24, 100, 0, 0};
        ioctl(slave, TIOCSWINSZ, &size);
        in_fd = out_fd = err_fd = slave;
        input_ = master_;
    } else {
        int in[2] = {-1, -1}, out[2], err[2];
        if (launch.input == Stdin::Pipe) {
            if (pipe2(in, O_CLOEXEC) != 0)
                fail("pipe");
            in_fd = in[0];
            input_ = in[1];
        } else {
            const char* file = launch.input == Stdin::Eof ? "/dev/null" : launch.input_file.c_str();
            in_fd = open(file, O_RDONLY | O_CLOEXEC);
            if (in_fd < 0)
                fail("open " + std::string(file));
        }
        if (pipe2(err, O_CLOEXEC) != 0)
            fail("pipe");
        err_fd = err[1];
        err_ = err[0];
        if (launch.output_closed) {
            out_closed_ = true;
        } else if (launch.output_file.empty()) {
            if (pipe2(out, O_CLOEXEC) != 0)
                fail("pipe");
            out_fd = out[1];
            out_ = out[0];
        } else {
            out_file_ = launch.output_file;
            out_fd = open(out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (out_fd < 0)
                fail("open " + out_file_);
            out_closed_ = true;
        }
    }
    if (pipe2(wake_, O_CLOEXEC) != 0)
        fail("pipe");
    int exec_error[2];
    if (pipe2(exec_error, O_CLOEXEC) != 0)
        fail("pipe");

    pid_ = fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        // The child: its own session (so its process group can be signalled whole), the standard
        // streams, the chosen signal dispositions, niceness and user, then the program.
        setsid();
        if (terminal_) {
            int tty = open(slave_name.c_str(), O_RDWR);  // the session's controlling terminal
            if (tty >= 0)
                close(tty);
        }
        dup2(in_fd, 0);
        if (out_fd >= 0)
            dup2(out_fd, 1);
        else
            close(1);
        dup2(err_fd, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            ::signal(sig, SIG_DFL);
        for (int sig : launch.ignored)
            ::signal(sig, SIG_IGN);
        if (launch.niceness && setpriority(PRIO_PROCESS, 0, *launch.niceness) != 0)
            _exit(126);
        if (launch.unprivileged && (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        int error = errno;
        (void)!::write(exec_error[1], &error, sizeof error);
        _exit(127);
    }
    close(exec_error[1]);
    if (out_fd >= 0)
        close(out_fd);
    if (err_fd != out_fd)
        close(err_fd);
    if (in_fd != out_fd)
        close(in_fd);
    int error = 0;
    ssize_t n = ::read(exec_error[0], &error, sizeof error);
    close(exec_error[0]);
    if (n == sizeof error) {
        errno = error;
        fail("could not start " + path);
    }
    std::string command = name_;
    for (const std::string& arg : launch.args)
        command += " " + arg;
    note("started " + command + " (pid " + std::to_string(pid_) + ")" + (terminal_ ? " at a terminal" : ""));
}

void Program::note(const std::string& event) const
{
    std::lock_guard hold(lock_);
    if (dropped_ > 0)
        events_.push_back("           ... " + std::to_string(dropped_) + " more lines ...");
    events_.insert(events_.end(), tail_.begin(), tail_.end());
    tail_.clear();
    run_lines_ = dropped_ = 0;
    double at = std::chrono::duration<double>(Clock::now() - started_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%+9.3f s  ", at);
    events_.push_back(stamp + event);
}

void Program::note_line(const std::string& line, bool is_err) const
{
    double at = std::chrono::duration<double>(Clock::now() - started_).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%+9.3f s  ", at);
    std::string entry = stamp + std::string(is_err ? "stderr| " : "     | ") + line;
    if (++run_lines_ <= run_kept) {
        events_.push_back(std::move(entry));
        return;
    }
    tail_.push_back(std::move(entry));
    if (tail_.size() > run_kept) {
        tail_.erase(tail_.begin());
        ++dropped_;
    }
}

std::string Program::transcript(std::size_t entries) const
{
    std::lock_guard hold(lock_);
    return transcript_locked(entries);
}

std::string Program::transcript_locked(std::size_t entries) const
{
    std::vector<std::string> all = events_;
    if (dropped_ > 0)
        all.push_back("           ... " + std::to_string(dropped_) + " more lines ...");
    all.insert(all.end(), tail_.begin(), tail_.end());
    const std::string& partial = partial_out_.empty() ? partial_err_ : partial_out_;
    if (!partial.empty())
        all.push_back("           (and, without a newline yet) " + partial);
    std::string text = "\nWhat happened (seconds since the start; \"|\" a line it printed):";
    std::size_t first = all.size() > entries ? all.size() - entries : 0;
    if (first > 0)
        text += "\n           ... " + std::to_string(first) + " entries before these ...";
    for (std::size_t k = first; k < all.size(); ++k)
        text += "\n" + all[k];
    return text;
}

void Program::read_loop()
{
    pollfd fds[3];
    for (;;) {
        nfds_t count = 0;
        fds[count++] = {wake_[0], POLLIN, 0};
        int out = terminal_ ? master_ : out_;
        {
            std::lock_guard hold(lock_);
            if (!out_closed_)
                fds[count++] = {out, POLLIN, 0};
            if (!terminal_ && !err_closed_)
                fds[count++] = {err_, POLLIN, 0};
        }
        if (count == 1) {
            changed_.notify_all();
            return;
        }
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        for (nfds_t i = 1; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            char buffer[65536];
            ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            std::lock_guard hold(lock_);
            bool is_err = !terminal_ && fds[i].fd == err_;
            if (got <= 0) {  // end of file; a terminal whose last slave is closed says EIO
                (is_err ? err_closed_ : out_closed_) = true;
            } else {
                if (mirror_ >= 0)
                    (void)!::write(mirror_, buffer, static_cast<std::size_t>(got));
                std::string& text = is_err ? err_text_ : out_text_;
                std::string& partial = is_err ? partial_err_ : partial_out_;
                for (ssize_t k = 0; k < got; ++k) {
                    if (terminal_ && buffer[k] == '\r')
                        continue;
                    text.push_back(buffer[k]);
                    if (buffer[k] != '\n') {
                        partial.push_back(buffer[k]);
                        continue;
                    }
                    note_line(partial, is_err);
                    partial.clear();
                }
            }
            changed_.notify_all();
        }
    }
}

void Program::type(std::string_view text) const
{
    if (input_ < 0)
        throw std::logic_error("the program's input is not a pipe or a terminal");
    note("typed \"" + shown_keys(text) + "\"");
    write_all(input_, text);
}

void Program::type_signal_key(int index) const
{
    if (!terminal_) {
        signal_group(index == VINTR ? SIGINT : SIGQUIT);
        return;
    }
    note(index == VINTR ? "typed the interrupt key" : "typed the quit key");
    // The terminal drops output not yet read when it turns the key into a signal: let the reader
    // take everything that is waiting first.
    auto until = Clock::now() + seconds(2);
    for (int waiting = 1; waiting > 0 && Clock::now() < until;) {
        if (ioctl(master_, FIONREAD, &waiting) != 0)
            break;
        if (waiting > 0)
            std::this_thread::sleep_for(milliseconds(1));
    }
    termios mode{};
    tcgetattr(master_, &mode);
    char key = static_cast<char>(mode.c_cc[index]);
    write_all(master_, std::string_view(&key, 1));
}

void Program::interrupt()
{
    type_signal_key(VINTR);
}
void Program::quit()
{
    type_signal_key(VQUIT);
}

void Program::close_input()
{
    if (terminal_) {
        termios mode{};
        tcgetattr(master_, &mode);
        char key = static_cast<char>(mode.c_cc[VEOF]);
        note("typed the end-of-file key");
        write_all(master_, std::string_view(&key, 1));
    } else if (input_ >= 0) {
        note("closed its input");
        close(input_);
        input_ = -1;
    }
}

bool Program::echoes() const
{
    termios mode{};
    return terminal_ && tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ECHO) != 0;
}

void Program::signal(int sig) const
{
    if (reaped_)
        return;
    note("sent " + signal_name(sig));
    ::kill(pid_, sig);
}

void Program::signal_group(int sig) const
{
    note("sent " + signal_name(sig) + " to its process group");
    ::kill(-pid_, sig);
}

std::vector<pid_t> Program::children() const
{
    return reaped_ ? std::vector<pid_t>{} : children_of(pid_);
}

pid_t Program::await_child(Clock::duration within)
{
    auto until = Clock::now() + within;
    for (;;) {
        std::vector<pid_t> now = children();
        if (!now.empty())
            return now.front();
        if (Clock::now() >= until || !running())
            return 0;
        std::this_thread::sleep_for(milliseconds(2));
    }
}

Check Program::await_until(
    const std::string& what, const std::function<bool()>& holds, Clock::duration within)
{
    auto until = Clock::now() + within;
    while (Clock::now() < until && running()) {
        if (holds())
            return {true, {}};
        std::this_thread::sleep_for(milliseconds(2));
    }
    std::string seen = running() ? "it never did" : "it " + describe(ending_);
    return {false,
        name_ + ": waited until it " + what + "; " + seen + ". It printed: " + excerpt(output()) +
            transcript()};
}

Check Program::await_status(
    const std::string& what, Clock::duration within, const std::function<bool(const std::string&)>& ready)
{
    return await_until(
        what,
        [this, &ready] {
            std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
            for (std::string line; std::getline(status, line);)
                if (ready(line))
                    return true;
            return false;
        },
        within);
}

Check Program::await_caught(int sig, Clock::duration within)
{
    return await_status("had a handler for " + signal_name(sig), within,
        [sig](const std::string& line) { return signal_line_holds(line, "SigCgt", sig); });
}

Check Program::await_pending(int sig, Clock::duration within)
{
    return await_status("held " + signal_name(sig) + " pending", within, [sig](const std::string& line) {
        return signal_line_holds(line, "ShdPnd", sig) || signal_line_holds(line, "SigPnd", sig);
    });
}

Check Program::await_blocked(Clock::duration within)
{
    return await_status("slept in a blocking call", within,
        [](const std::string& line) { return line.starts_with("State:\tS"); });
}

Check Program::await(std::string_view what, Clock::duration within,
    const std::function<std::optional<std::size_t>(const std::string&, std::size_t)>& find)
{
    auto until = Clock::now() + within;
    std::unique_lock hold(lock_);
    for (;;) {
        if (auto end = find(out_text_, cursor_)) {
            cursor_ = *end;
            return {true, {}};
        }
        if ((out_closed_ && out_file_.empty()) ||
            changed_.wait_until(hold, until) == std::cv_status::timeout) {
            if (auto end = find(out_text_, cursor_)) {
                cursor_ = *end;
                return {true, {}};
            }
            std::string why = out_closed_ && out_file_.empty() ? "the output ended" : "nothing like it came";
            return {false,
                name_ + ": waited for " + std::string(what) + "; " + why +
                    ". The output after the last match was: " + excerpt(out_text_.substr(cursor_)) +
                    transcript_locked(40)};
        }
    }
}

Check Program::await_line(std::string_view line, Clock::duration within)
{
    std::string wanted(line);
    return await("the line \"" + wanted + "\"", within,
        [wanted](const std::string& text, std::size_t from) -> std::optional<std::size_t> {
            for (std::size_t at = from; at < text.size();) {
                std::size_t end = text.find('\n', at);
                if (end == std::string::npos)
                    return std::nullopt;
                if (text.compare(at, end - at, wanted) == 0 && end - at == wanted.size())
                    return end + 1;
                at = end + 1;
            }
            return std::nullopt;
        });
}

Check Program::await_text(std::string_view wanted_text, Clock::duration within)
{
    std::string wanted(wanted_text);
    return await("the text \"" + wanted + "\"", within,
        [wanted](const std::string& text, std::size_t from) -> std::optional<std::size_t> {
            std::size_t at = text.find(wanted, from);
            if (at == std::string::npos)
                return std::nullopt;
            return at + wanted.size();
        });
}

Check Program::await_lines(std::size_t count, Clock::duration within)
{
    return await(std::to_string(count) + " lines in all", within,
        [count](const std::string& text, std::size_t from) -> std::optional<std::size_t> {
            if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) < count)
                return std::nullopt;
            return from;
        });
}

Check Program::silent_for(Clock::duration span)
{
    std::unique_lock hold(lock_);
    std::size_t before = out_text_.size() + err_text_.size();
    std::size_t seen = out_text_.size();
    changed_.wait_for(hold, span, [&] { return out_text_.size() + err_text_.size() != before; });
    if (out_text_.size() + err_text_.size() == before)
        return {true, {}};
    return {false,
        name_ + ": expected silence, but it printed: " + excerpt(out_text_.substr(seen) + err_text_) +
            transcript_locked(40)};
}

std::string Program::output() const
{
    if (!out_file_.empty()) {
        std::ifstream file(out_file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    std::lock_guard hold(lock_);
    return out_text_;
}

std::string Program::errors() const
{
    std::lock_guard hold(lock_);
    return err_text_;
}

std::string Program::unread() const
{
    std::lock_guard hold(lock_);
    return out_text_.substr(cursor_);
}

std::vector<std::string> Program::lines() const
{
    std::vector<std::string> all;
    std::istringstream text(output());
    for (std::string line; std::getline(text, line);)
        all.push_back(line);
    return all;
}

bool Program::running()
{
    if (reaped_)
        return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        reaped_ = true;
        ending_ = WIFEXITED(status) ? exited(WEXITSTATUS(status)) : killed_by(WTERMSIG(status));
        note("it " + describe(ending_));
    }
    return !reaped_;
}

Ending Program::await_end(Clock::duration within)
{
    auto until = Clock::now() + within;
    while (running() && Clock::now() < until)
        std::this_thread::sleep_for(milliseconds(2));
    if (!reaped_)
        return {};
    // What the program wrote last may still be on its way through the terminal or a pipe; a child
    // that outlives it may keep them open, so don't wait for their end for long.
    std::unique_lock hold(lock_);
    changed_.wait_for(hold, seconds(2), [this] { return out_closed_ && (terminal_ || err_closed_); });
    if (ending_ == exited(sanitizer_status) && POSIX_DEMOS_SANITIZE[0] != '\0')
        std::fprintf(stderr, "%s: sanitizer report:\n%s%s\n", name_.c_str(), err_text_.c_str(),
            terminal_ ? out_text_.c_str() : "");
    return ending_;
}

void Program::stop_everything()
{
    if (pid_ > 0) {
        // The whole process group, and any descendant that left it, then everything that ends up
        // as our child: the program, and its children reparented to us when it died.
        std::vector<pid_t> below = reaped_ ? std::vector<pid_t>{} : descendants_of(pid_);
        if (!reaped_ || kill(-pid_, 0) == 0)
            kill(-pid_, SIGKILL);
        for (pid_t p : below)
            kill(p, SIGKILL);
        if (!reaped_) {
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
            reaped_ = true;
        }
        auto until = Clock::now() + seconds(10);
        while (Clock::now() < until) {
            int status = 0;
            pid_t r = waitpid(-pid_, &status, WNOHANG);
            if (r > 0)
                continue;
            if (kill(-pid_, 0) != 0 && errno == ESRCH)
                break;
            std::this_thread::sleep_for(milliseconds(1));
        }
    }
    if (wake_[1] >= 0)
        (void)!::write(wake_[1], "x", 1);
    if (reader_.joinable())
        reader_.join();
    for (int fd : {master_, out_, err_, wake_[0], wake_[1]})
        if (fd >= 0)
            close(fd);
    if (input_ >= 0 && input_ != master_)
        close(input_);
    if (!private_dir_.empty())
        std::filesystem::remove_all(private_dir_);
}

}  // namespace demo
