// posix-demos — the entry point for everything around the fourteen programs: the guided tour, and
// what to run next. It finds the programs beside itself, wherever it was installed or unpacked.
//
//   posix-demos tour [NAME...]    plays the tour, or only the scenes named
//   posix-demos tour --list       lists the scenes
//   posix-demos peek PID          what the kernel knows of a running program and its children
//   posix-demos --help            this summary
//   posix-demos --version         the version

#include <cstdio>
#include <string_view>

#include "commands.hpp"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char* argv[]);
    const char* usage;  // what follows "posix-demos NAME" on the usage lines
};

const Command commands[] = {
    {"tour", tour_main,
        "[NAME...]     plays the guided tour, or only the scenes named\n"
        "       posix-demos tour --list        lists the scenes, one a line"},
    {"peek", peek_main, "PID [--once]  what the kernel knows of a running program, live"},
};

void usage(std::FILE* to)
{
    const char* lead = "usage:";
    for (const Command& command : commands) {
        std::fprintf(to, "%-6s posix-demos %s %s\n", lead, command.name, command.usage);
        lead = "";
    }
    std::fprintf(to, "       posix-demos --help | --version\n");
}

}  // namespace

int main(int argc, char* argv[])
{
    std::string_view word = argc > 1 ? argv[1] : "";
    if (word == "--help" || word == "-h") {
        usage(stdout);
        std::printf("\nThe fourteen programs sit beside posix-demos; each has a manual page, and\n"
                    "`man 7 posix-demos` lists them by mechanism.\n");
        return 0;
    }
    if (word == "--version") {
        std::printf("posix-demos %s\n", POSIX_DEMOS_VERSION);
        return 0;
    }
    for (const Command& command : commands)
        if (word == command.name)
            return command.run(argc - 1, argv + 1);
    if (!word.empty())
        std::fprintf(stderr, "posix-demos: unknown command \"%s\"\n", argv[1]);
    usage(stderr);
    return 2;
}
