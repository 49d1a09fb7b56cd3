// rearmed_alarm — shows a periodic timer built from the one-shot alarm(): the handler sets the next.
//
// The main loop counts seconds for ever; every two seconds or so "Inside handler function" comes,
// with about two main lines between. Each alarm cuts one sleep short, so the main lines drift
// against whole seconds. The program is never ended by its own alarm: the handler stays installed.
// Press Ctrl-C to end it. See also replaced_alarm, whose one alarm fires only once.

#include <csignal>
#include <cstdio>
#include <signal.h>
#include <unistd.h>

void sig_handler(int)
{
    std::puts("Inside handler function");
    alarm(2);
}

int main()
{
    std::signal(SIGALRM, sig_handler);  // cannot fail for a valid signal and handler
    alarm(2);

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
        sleep(1);
    }
}
