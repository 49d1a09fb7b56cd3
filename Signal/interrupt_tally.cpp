// interrupt_tally — counts the runs of a SIGINT handler, not the presses of the interrupt key.
//
// Press Ctrl-C: "CTRL+C" appears and the handler sleeps 100 seconds before it counts. Press Ctrl-C
// again, as often as you like, during that sleep: SIGINT is blocked while its handler runs, and a
// blocked signal is held only once, so all those presses make one more run. Once the main loop
// sees five runs or more counted it prints the summary and ends. Ctrl-\ (quit) ends it early,
// without a summary. Meanwhile the main loop spins and keeps one processor busy.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <signal.h>
#include <unistd.h>

// volatile: the poll must read the count from memory on every pass, as the handler changes it
// behind the loop's back. Only the handler writes it, and `lost`, why a "CTRL+C" went unwritten.
volatile std::sig_atomic_t sig_count = 0;
volatile std::sig_atomic_t lost = 0;

void handler(int)
{
    if (write(1, "CTRL+C\n", 7) != 7)
        lost = errno;
    sleep(100);
    sig_count = sig_count + 1;
}

int main()
{
    struct sigaction new_disposition;
    std::memset(&new_disposition, 0, sizeof new_disposition);
    new_disposition.sa_handler = handler;
    sigaction(SIGINT, &new_disposition, nullptr);  // cannot fail for a valid signal and handler

    // "5 or more", not "exactly 5": an interrupt during a run starts the next one straight after it,
    // before this loop looks again. With interrupts coming faster than a run lasts, every run ends
    // with another pending, and the loop first sees the count at any number from 5 up.
    while (sig_count < 5) { }
    std::fprintf(stdout, "CTRL+c was pushed %d times. \n", static_cast<int>(sig_count));

    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no
    // success, whether a run's "CTRL+C" or the summary.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) || lost != 0) {
        std::fprintf(stderr, "interrupt_tally: %s\n", std::strerror(lost != 0 ? lost : errno));
        return 1;
    }
    return 0;
}
