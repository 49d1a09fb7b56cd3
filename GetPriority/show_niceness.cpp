// show_niceness — prints the scheduling niceness of the process whose ID it is given.
//
// `show_niceness 0` names itself; `show_niceness $$` names your shell. Point it at a running
// renice_self (`renice_self & show_niceness $!`, and again after its report) to see the niceness it
// started with, then 10. It needs exactly one argument (status 255 otherwise, with no output). An
// ID that names no process, or a negative one, gives one line on standard error and status 1; -1 is
// a niceness like any other, so a process really at -1 is still reported.
// See also renice_self, which changes its own niceness and reports it in the same format.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/types.h>

// Reads a number as atoi does (leading white space, one sign, digits up to the first non-digit, no
// digits at all gives 0), but a value beyond the 32-bit range comes out as the nearest bound instead
// of whatever an overflow would make of it.
pid_t saturating_atoi(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;

    // Once past the range, further digits can only take it further: stop adding, keep reading.
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        if (magnitude <= INT32_MAX)
            magnitude = magnitude * 10 + (*text - '0');

    if (negative)
        return magnitude > -static_cast<std::int64_t>(INT32_MIN) ? INT32_MIN : static_cast<pid_t>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<pid_t>(magnitude);
}

int main(int argc, char* argv[])
{
    if (argc != 2)
        return -1;

    pid_t pid = saturating_atoi(argv[1]);

    // -1 is both a valid niceness and the failure value: only errno, cleared first, tells them apart.
    errno = 0;
    int prio_process = getpriority(PRIO_PROCESS, pid);
    if (prio_process == -1 && errno != 0) {
        // The call as it was made: the ID shows how the argument was read.
        std::fprintf(stderr, "getpriority(PRIO_PROCESS, %d): %s\n", pid, std::strerror(errno));
        return 1;
    }
    std::printf("Process (%d) Priority is %d.\n", pid, prio_process);

    // A report that never reached the file or the pipe (a full disk, a closed descriptor) is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "show_niceness: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
