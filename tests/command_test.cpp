// posix-demos, the command around the programs: its words, and the tour as a viewer meets it at a
// terminal.

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "expect.hpp"

namespace {

using demo::Program;
using demo::Stdin;

TEST(PosixDemos, AnswersEachWordWithItsStatusAndText)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;  // in standard output
        const char* err;  // in standard error
    };
    const Case cases[] = {
        {{"--version"}, 0, "posix-demos 1.0", ""},
        {{"--help"}, 0, "posix-demos tour [NAME...]", ""},
        {{}, 2, "", "usage: posix-demos tour"},
        {{"bogus"}, 2, "", "unknown command \"bogus\""},
        {{"tour", "no_such_scene"}, 2, "", "no scene named \"no_such_scene\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "(no words)" : c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        Program command("posix-demos", {.args = c.args, .terminal = false, .input = Stdin::Eof});
        ASSERT_EQ(command.await_end(), demo::exited(c.status));
        EXPECT_TRUE(holds(command.output(), c.out));
        EXPECT_TRUE(holds(command.errors(), c.err));
    }
}

TEST(PosixDemos, ListsEverySceneWithItsProgramsNameFirst)
{
    Program list("posix-demos", {.args = {"tour", "--list"}, .terminal = false, .input = Stdin::Eof});
    ASSERT_EQ(list.await_end(), demo::exited(0));
    std::vector<std::string> lines = list.lines();
    ASSERT_EQ(lines.size(), 14U);
    for (const std::string& line : lines)
        EXPECT_NO_THROW(demo::program_path(line.substr(0, line.find(' ')))) << line;
}

// The viewer's keys during a scene: not echoed among the program's lines, and not taken as the answer
// to the prompt that follows; the prompt itself echoes again.
TEST(PosixDemos, KeysTypedDuringASceneAreNeitherEchoedNorAnswers)
{
    Program tour("posix-demos", {.args = {"tour", "permit_drain", "guarded_tally"}, .echo = true});
    ASSERT_TRUE(shown(tour.await_line("$ permit_drain 11")));  // a scene that waits in silence
    ASSERT_FALSE(tour.echoes());
    tour.type("zzz\n");
    ASSERT_TRUE(shown(tour.await_text("[Enter: next scene, guarded_tally; q and Enter: end the tour]")));
    EXPECT_EQ(tour.output().find("zzz"), std::string::npos);
    ASSERT_TRUE(shown(tour.silent_for(std::chrono::milliseconds(300))));  // still waiting for an answer
    EXPECT_TRUE(tour.echoes());
    tour.type("q\n");
    ASSERT_EQ(tour.await_end(), demo::exited(0));
    EXPECT_TRUE(holds(tour.output(), "end the tour] q\n"));
    EXPECT_FALSE(holds(tour.output(), "guarded_tally ==="));
}

TEST(PosixDemos, CtrlCInASceneEndsTheTourAndGivesTheTerminalItsEchoBack)
{
    Program tour("posix-demos", {.args = {"tour", "permit_drain"}, .echo = true});
    ASSERT_TRUE(shown(tour.await_line("$ permit_drain 11")));
    tour.interrupt();
    ASSERT_EQ(tour.await_end(), demo::killed_by(SIGINT));
    EXPECT_TRUE(holds(tour.output(), "every program it started has been ended"));
    EXPECT_TRUE(tour.echoes());
}

}  // namespace
