// even_odd_turns — two threads giving up the processor of their own accord.
//
// One thread prints the even numbers from 0, the other the odd numbers from 1, five at a time, and
// each calls sched_yield after every batch so the other gets a turn. On one processor the batches
// tend to alternate in fives; on several the two run side by side and their lines mix freely, but
// each thread's own numbers always go up by 2. It never ends: press Ctrl-C.
// Redirected to a file or a pipe, the output comes in blocks and whatever is still buffered when
// Ctrl-C ends it is lost, perhaps in mid-line.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <sched.h>

// count is unsigned so that it wraps instead of overflowing; printed as signed, it turns negative
// past 2147483647. Only a signal ends the program, so no status can be made untrue by a failed
// print: none is checked.
void* evenCountThread(void*)
{
    std::uint32_t count = 0;
    for (;;) {
        for (int i = 0; i < 5; i++) {
            std::printf("even Thr: %d\n", static_cast<std::int32_t>(count));
            count = count + 2;
        }
        sched_yield();  // cannot fail on Linux
    }
}

void* oddCountThread(void*)
{
    std::uint32_t count = 1;
    for (;;) {
        for (int i = 0; i < 5; i++) {
            std::printf("odd Thr: %d\n", static_cast<std::int32_t>(count));
            count = count + 2;
        }
        sched_yield();  // cannot fail on Linux
    }
}

int main()
{
    pthread_t t1, t2;

    int rc1 = pthread_create(&t1, nullptr, evenCountThread, nullptr);
    if (rc1 != 0) {
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc1));
        return 1;
    }

    int rc2 = pthread_create(&t2, nullptr, oddCountThread, nullptr);
    if (rc2 != 0) {
        // The even thread is already printing. Holding the stream's lock makes it stop between
        // lines, so the process does not end in mid-line.
        flockfile(stdout);
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc2));
        return 1;
    }

    // The odd thread never ends, so this join never returns, and cannot fail.
    pthread_join(t2, nullptr);
    return 0;
}
