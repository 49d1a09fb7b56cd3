// child_exit_notice — a parent told of its child's end by SIGCHLD, and memory that fork copies.
//
// The parent's SIGCHLD handler writes "CHILD" and adds 5 to `val`; the child takes 3 from its own
// copy and spins for ever. End the child (`kill <child-pid>`) and the parent prints "val = 15":
// the handler's change shows, the child's never does. `kill -STOP` and `kill -CONT` the child first
// and each adds a "CHILD" and 5 more. Ctrl-C ends parent and child together, printing nothing;
// however the parent ends, the child ends with it.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// Changed by the handler, read by main after its wait: a lock-free atomic is safe to touch in a
// handler, where a plain int would be a data race. `lost` keeps why a "CHILD" went unwritten.
std::atomic<std::int32_t> val = 10;
static_assert(std::atomic<std::int32_t>::is_always_lock_free);
volatile std::sig_atomic_t lost = 0;

void handler(int)
{
    if (write(1, "CHILD\n", 6) != 6)
        lost = errno;
    val += 5;
}

int main()
{
    std::signal(SIGCHLD, handler);  // cannot fail for a valid signal and handler
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == -1) {
        std::perror("fork");
        std::exit(1);
    }
    if (pid == 0) {
        // A child left behind would spin for ever: the kernel kills it when the parent ends, and if
        // the parent has ended already (the child then has another), it goes at once.
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // cannot fail for a valid signal
        if (getppid() != parent)
            raise(SIGKILL);
        val -= 3;
        // A loop with no side effect may be deleted by the optimiser, and the child would run on
        // into the parent's code below; reading a volatile on every pass keeps it spinning.
        volatile bool spinning = true;
        while (spinning) { }
    }

    // A stop or a continue of the child runs the handler too, and the wait goes on: signal() asks
    // for the interrupted call to be restarted. Not every build keeps that promise (under
    // ThreadSanitizer the wait returns early), so a wait cut short is simply made again.
    while (waitpid(pid, nullptr, 0) == -1 && errno == EINTR) { }
    std::printf("val = %d\n", val.load());

    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no
    // success, whether a notice or the value.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || lost != 0) {
        std::fprintf(stderr, "child_exit_notice: %s\n", std::strerror(lost != 0 ? lost : errno));
        std::exit(1);
    }
    std::exit(0);
}
