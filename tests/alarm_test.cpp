// The replaced alarm and the re-armed alarm: one alarm per process, cancelled by the next call or
// set again by the handler, and the handler's line whole and in order among the main lines.

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "expect.hpp"

namespace {

using demo::Program;

const std::string handler_line = "Inside handler function";

std::string main_line(int i)
{
    return std::to_string(i) + " : Inside main function";
}

// One second of the programs' clock is 100 ms of real time: short, yet many times longer than the
// few microseconds by which an alarm and a sleep set together differ.
constexpr double scale = 10;

// The lines seen so far, up to and including the `nth` one equal to `last` (which must have come).
std::vector<std::string> lines_through(const Program& p, const std::string& last, int nth = 1)
{
    std::vector<std::string> lines = p.lines();
    auto end = lines.begin();
    for (int seen = 0; seen < nth; ++seen)
        end = std::find(seen == 0 ? end : end + 1, lines.end(), last);
    lines.erase(end + 1, lines.end());
    return lines;
}

// Main lines must count up from 1 with nothing else in between but handler lines; gives the number
// of main lines before each handler line.
std::vector<int> main_lines_between_handler_lines(const std::vector<std::string>& lines)
{
    std::vector<int> runs{0};
    int next = 1;
    for (const std::string& line : lines) {
        if (line == handler_line) {
            runs.push_back(0);
        } else {
            EXPECT_EQ(line, main_line(next)) << "a main line out of order or cut";
            next = next + 1;
            runs.back() = runs.back() + 1;
        }
    }
    runs.pop_back();  // main lines after the last handler line
    return runs;
}

TEST(ReplacedAlarm, HandlerRunsOnceAfterTheFirstMainLineAndNothingComesAtFourSeconds)
{
    Program p("replaced_alarm", {.time_scale = scale});
    // Eight seconds: twice the time of the cancelled 4-second alarm.
    ASSERT_TRUE(shown(p.await_line(main_line(8))));
    std::vector<std::string> lines = lines_through(p, main_line(8));
    std::string seen = "printed:\n" + p.output();

    // Alarm and first sleep are one second long, the alarm set first: its line normally stands
    // before main line 2, but after it would not be wrong.
    std::vector<int> before = main_lines_between_handler_lines(lines);
    ASSERT_EQ(before.size(), 1u) << seen;
    EXPECT_GE(before[0], 1) << seen;
    EXPECT_LE(before[0], 2) << seen;

    ASSERT_TRUE(p.running());
    p.interrupt();
    EXPECT_EQ(p.await_end(), demo::killed_by(SIGINT));
}

TEST(ReplacedAlarm, RedirectedOutputComesInWholeBlocksAndTheRestIsLostAtTheEnd)
{
    // The stream's buffer for a pipe is the pipe's block size, as the C library reads it.
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    struct stat about;
    ASSERT_EQ(fstat(ends[1], &about), 0);
    close(ends[0]);
    close(ends[1]);
    const auto block = static_cast<std::size_t>(about.st_blksize);

    Program p("replaced_alarm", {.terminal = false, .time_scale = 1000});
    ASSERT_TRUE(shown(p.await_lines(1)));
    p.signal(SIGINT);
    ASSERT_EQ(p.await_end(), demo::killed_by(SIGINT));
    std::string output = p.output();
    EXPECT_EQ(output.size() % block, 0u) << output.size() << " bytes came out";
    EXPECT_TRUE(output.starts_with(main_line(1) + "\n")) << output.substr(0, 80);
}

TEST(RearmedAlarm, HandlerLineComesEveryTwoSecondsWithAboutTwoMainLinesBetween)
{
    Program p("rearmed_alarm", {.time_scale = scale});
    for (int alarms = 0; alarms < 7; ++alarms)
        ASSERT_TRUE(shown(p.await_line(handler_line)));
    ASSERT_TRUE(p.running()) << "it was ended by " << p.await_end();
    std::string seen = "printed:\n" + p.output();

    // An alarm and a sleep that end together may come in either order, so a count of one or three
    // is no fault; most of them must be two. A handler that set one second gives ones, three
    // seconds threes.
    std::vector<int> counts = main_lines_between_handler_lines(lines_through(p, handler_line, 7));
    ASSERT_EQ(counts.size(), 7u) << seen;
    for (int count : counts) {
        EXPECT_GE(count, 1) << seen;
        EXPECT_LE(count, 3) << seen;
    }
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts[3], 2) << "the middle count of main lines between handler lines; " << seen;

    p.interrupt();
    EXPECT_EQ(p.await_end(), demo::killed_by(SIGINT));
}

}  // namespace
