// wait_wake_handoff — one thread waits on a condition variable until another signals it.
//
// Two threads run `foo`. The first to take `lock` finds `done` at 1, marks it 2 and waits on
// `cond1`; the second, a second later, finds it changed and signals. Watch the order: "Waiting",
// then "Signaling", then "Returning thread" from each. The waiter changes `done` and starts waiting
// without letting go of `lock` in between, so the signal can't come too early and be lost.
// It ends by itself, after the second thread has returned.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

pthread_cond_t cond1 = PTHREAD_COND_INITIALIZER;
pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
int done = 1;

// The lock, wait, signal and unlock below cannot fail: default objects, used by the holder of `lock`.
void* foo(void*)
{
    pthread_mutex_lock(&lock);
    if (done == 1) {
        done = 2;
        std::puts("Waiting on condition variable cond1");
        // One wait, no loop around it: a spurious wake-up would let this thread go on at once.
        pthread_cond_wait(&cond1, &lock);
    } else {
        std::puts("Signaling condition variable cond1");
        pthread_cond_signal(&cond1);
    }
    pthread_mutex_unlock(&lock);
    std::puts("Returning thread");
    return nullptr;
}

int main()
{
    pthread_t tid1, tid2;
    int rc = pthread_create(&tid1, nullptr, foo, nullptr);
    if (rc == 0) {
        sleep(1);
        rc = pthread_create(&tid2, nullptr, foo, nullptr);
    }
    if (rc == 0)
        pthread_join(tid2, nullptr);  // cannot fail: our own thread, joined once
    else
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc));

    // tid1 is never joined and may still be printing. Holding the stream's lock while the process
    // ends lets that line finish and keeps it from being written twice or cut.
    flockfile(stdout);
    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no
    // success. The stream's lock is this thread's now, and taking it again to flush is allowed.
    if (rc == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        std::fprintf(stderr, "wait_wake_handoff: %s\n", std::strerror(errno));
        return 1;
    }
    return rc == 0 ? 0 : 1;
}
