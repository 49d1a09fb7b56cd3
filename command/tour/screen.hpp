// The tour's screen: its own lines, and what the programs print, relayed beside them.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "driver.hpp"

namespace tour {

using demo::Clock;
using demo::milliseconds;

template <typename... Values> std::string format(const char* pattern, Values... values)
{
    char text[1024];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// 20000000 reads better as 20,000,000 on a projector.
std::string grouped(long long n);

// What the programs print comes through this relay, one pipe per program, so that it stands indented
// beside the tour's own lines and never in the middle of one; a program "in a second terminal" has
// its name before its lines. A program that floods the screen (a worker printing as fast as it can)
// is cut short: after a few lines the relay only counts, and the next line the tour says begins with
// how many lines went by and the last few of them.
class Screen {
public:
    Screen()
    {
        if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::perror("pipe");
            std::exit(1);
        }
        relay_ = std::thread([this] { relay(); });
    }
    ~Screen()
    {
        {
            std::lock_guard hold(lock_);
            stopping_ = true;
        }
        wake();
        relay_.join();
        close(wake_[0]);
        close(wake_[1]);
    }
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // A new program's output: gives back the descriptor for it to be mirrored to.
    int open(const std::string& label)
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        std::lock_guard hold(lock_);
        sources_.push_back({ends[0], ends[1], label.empty() ? "  | " : "  " + label + " | ", ""});
        wake();
        return ends[1];
    }

    // Once the program has ended and nothing writes there any more: shows what is left of it,
    // a last line without a newline included.
    void finish(int mirror)
    {
        settle();
        std::lock_guard hold(lock_);
        report_skipped();
        if (Source* source = find(mirror)) {
            drain(*source);
            if (!source->partial.empty())
                std::printf("%s%s   [the line ends here, cut off]\n", source->prefix.c_str(),
                    source->partial.c_str());
            source->partial.clear();
        }
        std::fflush(stdout);
    }

    void close_source(int mirror)
    {
        finish(mirror);
        std::lock_guard hold(lock_);
        if (Source* source = find(mirror)) {
            close(source->read_end);
            close(source->write_end);
            sources_.erase(sources_.begin() + (source - sources_.data()));
        }
        wake();
    }

    // A line of the tour's own, after everything the programs printed before it.
    void say(const std::string& text)
    {
        settle();
        std::lock_guard hold(lock_);
        report_skipped();
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    }

    // How many lines of a program to show between two lines of the tour's own.
    void limit(int lines)
    {
        std::lock_guard hold(lock_);
        screenful_ = lines > 0 ? lines : usual_screenful;
    }

private:
    static constexpr int usual_screenful = 24;
    static constexpr std::size_t tail = 3;

    struct Source {
        int read_end, write_end;
        std::string prefix, partial;
    };

    void wake() const
    {
        if (write(wake_[1], "x", 1) < 0) {
            // Full: the relay has a wake-up waiting already.
        }
    }

    Source* find(int end)
    {
        for (Source& source : sources_)
            if (source.write_end == end || source.read_end == end)
                return &source;
        return nullptr;
    }

    // Waits (briefly) until everything in the pipes has been shown or counted.
    void settle()
    {
        auto until = Clock::now() + milliseconds(300);
        while (Clock::now() < until) {
            {
                std::lock_guard hold(lock_);
                bool empty = true;
                for (const Source& source : sources_) {
                    int waiting = 0;
                    if (ioctl(source.read_end, FIONREAD, &waiting) == 0 && waiting > 0)
                        empty = false;
                }
                if (empty)
                    return;
            }
            std::this_thread::sleep_for(milliseconds(1));
        }
    }

    void relay()
    {
        std::vector<pollfd> ready;
        for (;;) {
            ready.assign(1, {wake_[0], POLLIN, 0});
            {
                std::lock_guard hold(lock_);
                if (stopping_)
                    return;
                for (const Source& source : sources_)
                    ready.push_back({source.read_end, POLLIN, 0});
            }
            if (poll(ready.data(), ready.size(), -1) < 0 && errno != EINTR)
                return;
            char byte;
            while (read(wake_[0], &byte, 1) == 1) { }
            // Read under the lock, so that settle() never sees empty pipes while bytes are in flight
            // between a pipe and the screen. A pipe closed meanwhile is no longer found.
            std::lock_guard hold(lock_);
            for (std::size_t k = 1; k < ready.size(); ++k)
                if (ready[k].revents != 0)
                    if (Source* source = find(ready[k].fd))
                        drain(*source);
            std::fflush(stdout);
        }
    }

    void drain(Source& source)
    {
        char buffer[65536];
        for (;;) {
            ssize_t got = read(source.read_end, buffer, sizeof buffer);
            if (got <= 0)
                return;
            for (ssize_t k = 0; k < got; ++k) {
                char c = buffer[k];
                if (c == '\r')
                    continue;
                if (c != '\n') {
                    source.partial.push_back(c);
                    continue;
                }
                std::string line = source.prefix + source.partial;
                source.partial.clear();
                if (shown_ < screenful_) {
                    std::printf("%s\n", line.c_str());
                    ++shown_;
                } else {
                    ++skipped_;
                    last_.push_back(std::move(line));
                    if (last_.size() > tail)
                        last_.pop_front();
                }
            }
        }
    }

    void report_skipped()
    {
        if (skipped_ > 0) {
            long long before = skipped_ - static_cast<long long>(last_.size());
            if (before > 0)
                std::printf("  ... %s more lines went by ...\n", grouped(before).c_str());
            for (const std::string& line : last_)
                std::printf("%s\n", line.c_str());
        }
        skipped_ = 0;
        last_.clear();
        shown_ = 0;
    }

    int wake_[2] = {-1, -1};
    std::mutex lock_;
    bool stopping_ = false;
    std::vector<Source> sources_;
    int screenful_ = usual_screenful;
    int shown_ = 0;
    long long skipped_ = 0;
    std::deque<std::string> last_;
    std::thread relay_;
};

// The one screen, made on first use, so that `posix-demos tour --list` starts no relay.
Screen& screen();

// A line of the tour's own; and one that says what the tour does, as "[tour] ...".
void say(const std::string& text);
void act(const std::string& text);

}  // namespace tour
