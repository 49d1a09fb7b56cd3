// unguarded_tally — two threads add to one counter with no lock, and updates get lost.
//
// Each worker adds one to `sum` ten million times, as a separate read and a separate write. When
// the other worker writes between the two, one of the additions is overwritten. Watch the total:
// it is usually well short of 20000000, and differs from run to run. Run it a few times.
// It ends by itself. See also guarded_tally, which does its counting under a mutex.

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <pthread.h>

// Relaxed atomic loads and stores keep each read and each write well-defined while both threads
// touch `sum` at once, yet leave the read-add-write open to the other thread, as a plain int would.
std::atomic<std::int32_t> sum{0};

void* countgold(void*)
{
    for (std::int32_t i = 0; i < 10000000; i = i + 1) {
        std::int32_t seen = sum.load(std::memory_order_relaxed);
        sum.store(seen + 1, std::memory_order_relaxed);
    }
    return nullptr;
}

int main()
{
    pthread_t tid1, tid2;
    int rc1 = pthread_create(&tid1, nullptr, countgold, nullptr);
    int rc2 = pthread_create(&tid2, nullptr, countgold, nullptr);

    // A total counted by one thread alone would claim that no update was lost: report no total.
    // The joins cannot fail: each thread is ours, joinable, and joined once.
    if (rc1 != 0 || rc2 != 0) {
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc1 != 0 ? rc1 : rc2));
        if (rc1 == 0)
            pthread_join(tid1, nullptr);
        if (rc2 == 0)
            pthread_join(tid2, nullptr);
        return 1;
    }
    pthread_join(tid1, nullptr);
    pthread_join(tid2, nullptr);
    std::printf("ARRRRG sum is %d\n", sum.load(std::memory_order_relaxed));

    // A total that never reached the file or the pipe (a full disk, a closed descriptor) is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "unguarded_tally: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}
