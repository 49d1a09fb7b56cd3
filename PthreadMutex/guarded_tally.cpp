// guarded_tally — two threads update one counter under a mutex, so no update is lost.
//
// Each worker takes `mutex1`, adds one to `counter`, prints the new value and lets go. Whichever
// worker comes first, the lines read 1 and then 2: the lock makes each update-and-print one step.
// It ends by itself. See also unguarded_tally, the same kind of work without a lock.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>

pthread_mutex_t mutex1 = PTHREAD_MUTEX_INITIALIZER;
int counter = 0;

void* functionC(void*)
{
    // A default mutex, taken once and let go by its holder: neither call can fail.
    pthread_mutex_lock(&mutex1);
    counter = counter + 1;
    std::printf("Counter value: %d\n", counter);
    pthread_mutex_unlock(&mutex1);
    return nullptr;
}

int main()
{
    pthread_t thread1, thread2;
    int rc1, rc2;

    if ((rc1 = pthread_create(&thread1, nullptr, functionC, nullptr)) != 0)
        std::printf("Thread creation failed: %d\n", rc1);
    if ((rc2 = pthread_create(&thread2, nullptr, functionC, nullptr)) != 0)
        std::printf("Thread creation failed: %d\n", rc2);

    // A thread that was never created has no handle to join; a created one joins without fail.
    if (rc1 == 0)
        pthread_join(thread1, nullptr);
    if (rc2 == 0)
        pthread_join(thread2, nullptr);

    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "guarded_tally: %s\n", std::strerror(errno));
        std::exit(1);
    }
    std::exit(0);
}
