// renice_self — lowers its own scheduling priority to niceness 10 between two ten-second pauses.
//
// It prints "Sleeping1 ...", waits 10 seconds at the niceness it was started with, sets its niceness
// to 10, reads it back and reports it, then waits 10 more seconds and ends. During either pause, look
// at it from a second terminal with `show_niceness $(pgrep renice_self)`: its starting niceness first,
// 10 after the report. Started as an ordinary user with `nice -n 15 renice_self`, the change would
// raise its priority, which needs privilege: the report then says 15. Ctrl-C ends it at once.
// With its output on a pipe (`renice_self | cat`), both lines wait in the buffer until the end.
// See also show_niceness, which prints any process's niceness in the same format.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

int main()
{
    pid_t pid = getpid();

    std::puts("Sleeping1 ...");
    sleep(10);

    // A refused change is not reported as such: the niceness read back below tells what happened.
    setpriority(PRIO_PROCESS, pid, 10);
    // Asked of this very process, the query cannot fail; -1 would be a niceness like any other.
    int prio_process = getpriority(PRIO_PROCESS, pid);
    std::printf("Process (%d) Priority is %d.\n", pid, prio_process);

    sleep(10);

    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no success.
    // On a file or a pipe both are written only now, by this flush.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "renice_self: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
