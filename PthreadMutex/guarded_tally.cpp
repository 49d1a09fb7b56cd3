// guarded_tally — two threads update one counter under a mutex, so no update is lost.
//
// Each worker takes `mutex1`, adds one to `counter`, prints the new value and lets go. Whichever
// worker comes first, the lines read 1 and then 2: the lock makes each update-and-print one step.
// It ends by itself. See also unguarded_tally, the same kind of work without a lock.

#include <cstdio>
#include <cstdlib>
#include <pthread.h>

pthread_mutex_t mutex1 = PTHREAD_MUTEX_INITIALIZER;
int counter = 0;

void* functionC(void*)
{
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

    // A thread that was never created has no handle to join.
    if (rc1 == 0)
        pthread_join(thread1, nullptr);
    if (rc2 == 0)
        pthread_join(thread2, nullptr);
    std::exit(0);
}
