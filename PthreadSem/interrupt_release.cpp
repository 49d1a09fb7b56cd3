// interrupt_release: a signal handler releasing a waiting thread.
//
// A worker waits on a semaphore that starts with no permits, and the main
// thread ends itself with pthread_exit while the process lives on. Nothing is
// printed until you press Ctrl-C: the handler posts the semaphore, the worker
// wakes, prints its one line and, being the last thread, ends the process
// with status 0.
//
// See also enter_gate (a semaphore used as a lock) and permit_drain (a
// semaphore counting down to zero).

#include <csignal>
#include <cstdio>
#include <cstring>
#include <pthread.h>
#include <semaphore.h>

sem_t s;

void* singsong(void*)
{
    sem_wait(&s);
    std::puts("I had to wait until your signal released me!");
    return nullptr;
}

// sem_post is safe in a signal handler; nothing else here would be.
void handler(int)
{
    sem_post(&s);
}

int main()
{
    int ok = sem_init(&s, 0, 0);
    if (ok == -1) {
        std::perror("Could not create unnamed semaphore");
        return 1;
    }

    std::signal(SIGINT, handler);

    pthread_t tid;
    int rc = pthread_create(&tid, nullptr, singsong, nullptr);
    if (rc != 0) {
        // Ending this thread now would end the process silently, with 0.
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc));
        return 1;
    }

    // Ends only this thread. When the worker, the last one left, returns, the
    // process exits through the normal path, which flushes the output.
    pthread_exit(nullptr);
}
