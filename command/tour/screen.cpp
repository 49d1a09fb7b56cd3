#include "screen.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tour {

Screen::Screen()
{
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    relay_ = std::thread([this] { relay(); });
}

Screen::~Screen()
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

int Screen::open(const std::string& label)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    std::lock_guard hold(lock_);
    sources_.push_back({ends[0], ends[1], label.empty() ? "  | " : "  " + label + " | ", ""});
    wake();
    return ends[1];
}

void Screen::finish(int mirror)
{
    settle();
    std::lock_guard hold(lock_);
    report_skipped();
    if (Source* source = find(mirror)) {
        drain(*source);
        if (!source->partial.empty())
            std::printf(
                "%s%s   [the line ends here, cut off]\n", source->prefix.c_str(), source->partial.c_str());
        source->partial.clear();
    }
    std::fflush(stdout);
}

void Screen::close_source(int mirror)
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

void Screen::say(const std::string& text)
{
    settle();
    std::lock_guard hold(lock_);
    report_skipped();
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

void Screen::limit(int lines)
{
    std::lock_guard hold(lock_);
    screenful_ = lines > 0 ? lines : usual_screenful;
}

void Screen::wake() const
{
    if (write(wake_[1], "x", 1) < 0) {
        // Full: the relay has a wake-up waiting already.
    }
}

Screen::Source* Screen::find(int end)
{
    for (Source& source : sources_)
        if (source.write_end == end || source.read_end == end)
            return &source;
    return nullptr;
}

void Screen::settle()
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

void Screen::relay()
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

void Screen::drain(Source& source)
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

void Screen::report_skipped()
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

std::string grouped(long long n)
{
    unsigned long long magnitude =
        n < 0 ? 0ULL - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    std::string digits = std::to_string(magnitude);
    std::string text = n < 0 ? "-" : "";
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            text += ',';
        text += digits[k];
    }
    return text;
}

Screen& screen()
{
    static Screen shared;
    return shared;
}

void say(const std::string& text)
{
    screen().say(text);
}

void act(const std::string& text)
{
    screen().say("[tour] " + text);
}

}  // namespace tour
