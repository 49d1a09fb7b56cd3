// permit_drain — a counting semaphore running out of permits.
//
// The semaphore starts with ten permits and the program takes one as many times as its argument says.
// Give it 0 to 10 (`permit_drain 10`) and it ends at once, silently. Give it 11, or a negative number,
// and the eleventh take blocks for good: no other thread is there to give a permit back, so it sits
// silent until you press Ctrl-C. It never prints anything.
// See also enter_gate (a semaphore used as a lock) and interrupt_release (a semaphore posted from a
// signal handler).

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <semaphore.h>

sem_t s;

int main(int argc, char* argv[])
{
    // Read as atoi reads (blanks, one sign, digits up to the first other character), but a number
    // beyond the 32-bit range saturates at the bound instead of being undefined. No argument means no
    // takes.
    long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    int count = static_cast<int>(std::clamp(n, long{INT_MIN}, long{INT_MAX}));

    // A private semaphore with a small value, no handler to cut a wait short, and one post after at
    // most ten takes: none of the semaphore calls here can fail.
    sem_init(&s, 0, 10);

    // Count down in unsigned arithmetic, where going below zero wraps instead of overflowing: a
    // negative count then stands for more than ten takes, as it would in a signed countdown, and
    // INT_MIN is no exception.
    for (std::uint32_t i = static_cast<std::uint32_t>(count); i-- != 0;)
        sem_wait(&s);

    sem_post(&s);
    sem_destroy(&s);
    return 0;
}
