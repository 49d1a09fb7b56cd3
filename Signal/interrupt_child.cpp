// interrupt_child — one process ends another with a signal and learns the cause from the wait status.
//
// The parent forks a child that spins for ever, sends it SIGINT and waits; the child, keeping the
// default action, ends at once, and the parent reports "Child term due to: Interrupt" on standard
// error. Start it with SIGINT ignored (`nohup`-like, or `cmd &` in a shell without job control)
// and the child shrugs the signal off: end it with `kill <child-pid>` and the report names SIGTERM.

#include <cstdio>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

int main()
{
    pid_t pid = fork();
    if (pid == -1) {
        // -1 is no child's ID: kill(-1, ...) would signal every process this user owns.
        std::perror("fork");
        return 1;
    }
    if (pid == 0) {
        // A loop with no side effect may be deleted by the optimiser, and the child would run on
        // into the parent's code below; reading a volatile on every pass keeps it spinning.
        volatile bool spinning = true;
        while (spinning) { }
    }

    kill(pid, SIGINT);
    int stat = 0;
    wait(&stat);
    if (WIFSIGNALED(stat))
        psignal(WTERMSIG(stat), "Child term due to");
    return 0;
}
