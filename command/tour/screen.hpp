// The tour's screen: its own lines, and what the programs print, relayed beside them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    Screen();
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // A new program's output: gives back the descriptor for it to be mirrored to.
    int open(const std::string& label);

    // Once the program has ended and nothing writes there any more: shows what is left of it,
    // a last line without a newline included.
    void finish(int mirror);

    void close_source(int mirror);

    // A line of the tour's own, after everything the programs printed before it.
    void say(const std::string& text);

    // How many lines of a program to show between two lines of the tour's own.
    void limit(int lines);

private:
    static constexpr int usual_screenful = 24;
    static constexpr std::size_t tail = 3;

    struct Source {
        int read_end, write_end;
        std::string prefix, partial;
    };

    void wake() const;
    Source* find(int end);
    // Waits (briefly) until everything in the pipes has been shown or counted.
    void settle();
    void relay();  // the relay thread: shows what comes through the pipes
    void drain(Source& source);
    void report_skipped();

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
