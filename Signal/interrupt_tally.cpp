// interrupt_tally — counts the runs of a SIGINT handler, not the presses of the interrupt key.
//
// Press Ctrl-C: "CTRL+C" appears and the handler sleeps 100 seconds before it counts. Press Ctrl-C
// again, as often as you like, during that sleep: SIGINT is blocked while its handler runs, and a
// blocked signal is held only once, so all those presses make one more run. Once the main loop
// sees five runs counted it prints the summary and ends. Ctrl-\ (quit) ends it without a summary.
// Meanwhile the main loop spins and keeps one processor busy.

#include <csignal>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <unistd.h>

// volatile: the poll must read the count from memory on every pass, as the handler changes it
// behind the loop's back. Only the handler writes it.
volatile std::sig_atomic_t sig_count = 0;

void handler(int)
{
    if (write(1, "CTRL+C\n", 7) != 7) {
        // Nothing to do about it in a handler; the run is counted all the same.
    }
    sleep(100);
    sig_count = sig_count + 1;
}

int main()
{
    struct sigaction new_disposition;
    std::memset(&new_disposition, 0, sizeof new_disposition);
    new_disposition.sa_handler = handler;
    sigaction(SIGINT, &new_disposition, nullptr);

    // "5 or more", not "exactly 5": an interrupt during the fifth run starts a sixth straight after
    // it, before this loop looks again, and the count goes from 4 to 6 as far as the loop can tell.
    while (sig_count < 5) { }
    std::fprintf(stdout, "CTRL+c was pushed %d times. \n", static_cast<int>(sig_count));
    return 0;
}
