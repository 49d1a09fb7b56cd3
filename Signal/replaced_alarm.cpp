// replaced_alarm — shows that a process has only one alarm: a second alarm() replaces the first.
//
// It sets a 4-second alarm and at once a 1-second one, then counts seconds for ever. Watch
// "Inside handler function" come once, about a second after start, between main lines 1 and 2,
// and never again: nothing happens at the 4-second mark, because that alarm was cancelled.
// Press Ctrl-C to end it. See also rearmed_alarm, whose handler sets the next alarm itself.

#include <csignal>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

void sig_handler(int)
{
    std::puts("Inside handler function");
}

int main()
{
    std::signal(SIGALRM, sig_handler);  // cannot fail for a valid signal and handler
    alarm(4);
    alarm(1);  // The 4-second alarm is gone from here on; the seconds it had left are dropped.

    // The handler prints through the same stdout stream as the loop. It must never run while the
    // loop is inside its own printf, so SIGALRM is held back during the print and let in only for
    // the sleep; an alarm that expires during the print is delivered as soon as it is unblocked.
    // With a valid signal and a valid `how`, none of the set and mask calls can fail.
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);

    // Only a signal ends the loop, so no status can be made untrue by a failed print: none is checked.
    for (int i = 1;; i = i + 1) {
        sigprocmask(SIG_BLOCK, &alarm_only, nullptr);
        std::printf("%d : Inside main function\n", i);
        sigprocmask(SIG_UNBLOCK, &alarm_only, nullptr);
        // The alarm cuts this sleep short; the loop goes straight on and the rest is not made up.
        sleep(1);
    }
}
