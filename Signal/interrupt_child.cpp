// interrupt_child — one process ends another with a signal and learns the cause from the wait status.
//
// The parent forks a child that spins for ever, sends it SIGINT and waits; the child, keeping the
// default action, ends at once, and the parent reports "Child term due to: Interrupt" on standard
// error. Start it with SIGINT ignored (`nohup`-like, or `cmd &` in a shell without job control)
// and the child shrugs the signal off: end it with `kill <child-pid>` and the report names SIGTERM.
// However the parent ends, the child ends with it.

#include <cstdio>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    // Started with SIGCHLD ignored, the kernel would reap the child itself and leave the wait no
    // status to report; the default action keeps it.
    signal(SIGCHLD, SIG_DFL);  // cannot fail for a valid signal
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == -1) {
        // -1 is no child's ID: kill(-1, ...) would signal every process this user owns.
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        // A child left behind would spin for ever: the kernel kills it when the parent ends, and if
        // the parent has ended already (the child then has another), it goes at once.
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // cannot fail for a valid signal
        if (getppid() != parent)
            raise(SIGKILL);
        // A loop with no side effect may be deleted by the optimiser, and the child would run on
        // into the parent's code below; reading a volatile on every pass keeps it spinning.
        volatile bool spinning = true;
        while (spinning) { }
    }

    kill(pid, SIGINT);  // cannot fail: the child lives until a signal ends it
    int stat = 0;
    if (wait(&stat) == -1) {
        std::perror("wait");
        return 1;
    }
    if (WIFSIGNALED(stat))
        psignal(WTERMSIG(stat), "Child term due to");
    return 0;
}
