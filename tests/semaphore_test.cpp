// The three semaphore programs: the gate worked with Enter, the drain of ten permits, and the
// semaphore that an interrupt posts.

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "expect.hpp"

namespace {

using demo::Clock;
using demo::Program;

const std::string starting = "Starting thread, semaphore is unlocked.";
const std::string greeting = "Hello from da thread!";
const std::string locked = "Semaphore locked.";
const std::string unlocked = "Semaphore unlocked.";
const std::string released = "I had to wait until your signal released me!";

// ThreadSanitizer's runtime runs a thread of its own that outlives the program's threads, so a
// process whose main thread has called pthread_exit never loses its last thread and does not end by
// itself under it.
const bool runtime_keeps_a_thread = demo::thread_sanitized();

// A file for a program's standard output, removed when the test is done with it.
struct OutputFile {
    std::string path;
    explicit OutputFile(const std::string& name)
        : path(testing::TempDir() + "posix-demos-" + name + "-" + std::to_string(getpid()))
    {
    }
    ~OutputFile() { std::filesystem::remove(path); }
};

// The gate's whole output: the starting line first, the two status lines next to each other, and
// nothing but greetings around them. Returns how many greetings came before and after the gate.
std::pair<int, int> expect_gate_transcript(const std::vector<std::string>& lines, const std::string& seen)
{
    std::pair<int, int> greetings{0, 0};
    EXPECT_FALSE(lines.empty()) << seen;
    if (lines.empty())
        return greetings;
    EXPECT_EQ(lines[0], starting) << seen;
    int gate = 0;  // 0 before "locked", 1 between, 2 after "unlocked"
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i] == locked && gate == 0)
            gate = 1;
        else if (lines[i] == unlocked && gate == 1)
            gate = 2;
        else if (lines[i] == greeting && gate != 1)
            ++(gate == 0 ? greetings.first : greetings.second);
        else
            ADD_FAILURE() << "line " << i + 1 << " is \"" << lines[i] << "\"" << seen;
    }
    EXPECT_EQ(gate, 2) << "the status lines did not both come, in order" << seen;
    return greetings;
}

TEST(EnterGate, EachEnterAtATerminalLocksUnlocksAndEnds)
{
    Program gate("enter_gate");
    ASSERT_TRUE(shown(gate.await_line(starting)));
    ASSERT_TRUE(shown(gate.await_line(greeting)));
    gate.type("\n");
    ASSERT_TRUE(shown(gate.await_line(locked)));
    // The person sees the greetings stop while the gate is held.
    ASSERT_TRUE(shown(gate.silent_for(demo::milliseconds(200))));
    gate.type("\n");
    ASSERT_TRUE(shown(gate.await_line(unlocked)));
    ASSERT_TRUE(shown(gate.await_line(greeting)));
    gate.type("\n");
    ASSERT_EQ(gate.await_end(), demo::exited(0));

    std::string screen = gate.output();
    auto [before, after] = expect_gate_transcript(gate.lines(), "\nThe screen:" + screen.substr(0, 2000));
    EXPECT_GT(before, 0);
    EXPECT_GT(after, 0);
    EXPECT_EQ(screen.back(), '\n');
}

TEST(EnterGate, TwoLettersAndEnterPassAllThreeStepsAtOnce)
{
    Program gate("enter_gate");
    ASSERT_TRUE(shown(gate.await_line(starting)));
    gate.type("ab\n");
    ASSERT_EQ(gate.await_end(), demo::exited(0));
    expect_gate_transcript(gate.lines(), "");
}

// Whole lines to the end, and the gate's lines in order, in what a run left in a file or a pipe.
void expect_whole_lines(const Program& gate, int run)
{
    std::string text = gate.output();
    std::string seen = "\nrun " + std::to_string(run) + " wrote " + std::to_string(text.size()) +
        " bytes, ending: " + text.substr(text.size() > 200 ? text.size() - 200 : 0);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n') << seen;
    expect_gate_transcript(gate.lines(), seen);
    EXPECT_EQ(gate.errors(), "");
}

// If the process could end while the worker is halfway through a line in the stream's buffer, the
// output would end in a cut line. The race is narrow: each case runs many times.
TEST(EnterGate, WithInputAtEndOfFileAFileGetsWholeLinesEveryTime)
{
    OutputFile file("enter_gate");
    for (int run = 0; run < 20 && !HasFailure(); ++run) {
        Program gate("enter_gate", {.terminal = false, .input = demo::Stdin::Eof, .output_file = file.path});
        ASSERT_EQ(gate.await_end(), demo::exited(0));
        expect_whole_lines(gate, run);
    }
}

TEST(EnterGate, EndedWhileTheGreetingsStreamAPipeGetsWholeLinesEveryTime)
{
    for (int run = 0; run < 30 && !HasFailure(); ++run) {
        Program gate("enter_gate", {.terminal = false});
        ASSERT_TRUE(shown(gate.await_line(greeting)));
        gate.type("\n\n\n");
        ASSERT_EQ(gate.await_end(), demo::exited(0));
        expect_whole_lines(gate, run);
    }
}

TEST(EnterGate, WithoutItsHandleCellOrItsWorkerItSaysSoAndEnds)
{
    struct Case {
        const char* faults;
        std::string output, errors;
    };
    const Case cases[] = {
        {"malloc(8)#1=ENOMEM", "", "malloc: Cannot allocate memory\n"},
        {"pthread_create#1=EAGAIN", starting + "\n", "pthread_create: Resource temporarily unavailable\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        Program gate("enter_gate", {.terminal = false, .faults = c.faults});
        ASSERT_EQ(gate.await_end(), demo::exited(1));
        EXPECT_EQ(gate.output(), c.output);
        EXPECT_EQ(gate.errors(), c.errors);
    }
}

TEST(PermitDrain, EndsAtOnceOrBlocksSilentlyAsItsArgumentSays)
{
    enum Outcome { Ends, Blocks };
    struct Case {
        std::vector<std::string> args;
        Outcome outcome;
    };
    // clang-format off
    const Case cases[] = {
        {{}, Ends},                  // no argument: no takes
        {{"0"}, Ends},               // no wait at all
        {{"1"}, Ends},
        {{"10"}, Ends},              // every permit taken, none missing
        {{"3", "11"}, Ends},         // only the first argument counts
        {{"abc"}, Ends},             // no digits: 0
        {{"7abc"}, Ends},            // the digits before the letters...
        {{"12abc"}, Blocks},         // ...are counted
        {{" \t+10"}, Ends},          // leading blanks and one sign...
        {{" \t+11"}, Blocks},        // ...are read past
        {{"11"}, Blocks},            // the eleventh take finds no permit
        {{"-1"}, Blocks},            // counts down past zero, never reaching it in ten takes
        {{"-2147483648"}, Blocks},   // the lowest 32-bit value: its countdown must not overflow
        {{"-99999999999"}, Blocks},  // saturates to the lowest value
        {{"99999999999"}, Blocks},   // saturates to the highest value
        {{"4294967296"}, Blocks},    // saturates too, rather than wrapping round to 0
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "no argument" : "argument \"" + c.args[0] + "\"");
        Program drain("permit_drain", {.args = c.args});
        if (c.outcome == Ends) {
            EXPECT_EQ(drain.await_end(), demo::exited(0));
        } else {
            ASSERT_TRUE(shown(drain.await_blocked()));
            EXPECT_TRUE(shown(drain.silent_for(demo::milliseconds(100))));
            EXPECT_TRUE(drain.running());
            drain.interrupt();
            EXPECT_EQ(drain.await_end(), demo::killed_by(SIGINT));
        }
        EXPECT_EQ(drain.output(), "");
    }
}

TEST(InterruptRelease, SitsSilentUntilOneInterruptReleasesItsOneLine)
{
    Program release("interrupt_release");
    ASSERT_TRUE(shown(release.await_caught(SIGINT)));
    ASSERT_TRUE(shown(release.silent_for(demo::milliseconds(200))));
    ASSERT_TRUE(release.running());
    release.interrupt();
    ASSERT_TRUE(shown(release.await_line(released)));
    if (runtime_keeps_a_thread)
        return;
    EXPECT_EQ(release.await_end(), demo::exited(0));
    EXPECT_EQ(release.output(), released + "\n");
}

// The line is still in the stream's buffer when the worker returns: only the normal exit path,
// taken when the last thread ends, writes it out.
TEST(InterruptRelease, WithOutputToAFileTheLineIsWritten)
{
    if (runtime_keeps_a_thread)
        GTEST_SKIP() << "the process cannot end by itself under ThreadSanitizer";
    OutputFile file("interrupt_release");
    Program release("interrupt_release", {.terminal = false, .output_file = file.path});
    ASSERT_TRUE(shown(release.await_caught(SIGINT)));
    release.signal(SIGINT);
    EXPECT_EQ(release.await_end(), demo::exited(0));
    EXPECT_EQ(release.output(), released + "\n");
    EXPECT_EQ(release.errors(), "");
}

TEST(InterruptRelease, WithoutItsSemaphoreOrItsWorkerItSaysSoAndEndsWith1)
{
    struct Case {
        const char* faults;
        const char* errors;
    };
    const Case cases[] = {
        {"sem_init#1=ENOSYS", "Could not create unnamed semaphore: Function not implemented\n"},
        {"pthread_create#1=EAGAIN", "pthread_create: Resource temporarily unavailable\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faults);
        Program release("interrupt_release", {.terminal = false, .faults = c.faults});
        EXPECT_EQ(release.await_end(), demo::exited(1));
        EXPECT_EQ(release.output(), "");
        EXPECT_EQ(release.errors(), c.errors);
    }
}

}  // namespace
