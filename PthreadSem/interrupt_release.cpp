// interrupt_release — a signal handler releasing a waiting thread.
//
// A worker waits on a semaphore that starts with no permits, and the main thread ends itself with
// pthread_exit while the process lives on. Nothing is printed until you press Ctrl-C: the handler
// posts the semaphore, the worker wakes, prints its one line and, being the last thread, ends the
// process with status 0.
// See also enter_gate (a semaphore used as a lock) and permit_drain (a semaphore counting down to
// zero).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <semaphore.h>

sem_t s;

void* singsong(void*)
{
    sem_wait(&s);  // cannot fail: signal() asks for a wait cut short by the handler to go on
    std::puts("I had to wait until your signal released me!");
    // The process ends when this, its last thread, returns: a line that never reached the file or
    // the pipe (a full disk, a closed descriptor) must not end it with success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "interrupt_release: %s\n", std::strerror(errno));
        std::exit(1);
    }
    return nullptr;
}

// sem_post is safe in a signal handler; nothing else here would be.
void handler(int)
{
    sem_post(&s);  // cannot fail short of two billion interrupts nobody answered
}

int main()
{
    int ok = sem_init(&s, 0, 0);
    if (ok == -1) {
        std::perror("Could not create unnamed semaphore");
        return 1;
    }

    std::signal(SIGINT, handler);  // cannot fail for a valid signal and handler

    pthread_t tid;
    int rc = pthread_create(&tid, nullptr, singsong, nullptr);
    if (rc != 0) {
        // Ending this thread now would end the process silently, with 0.
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc));
        return 1;
    }

    // Ends only this thread. When the worker, the last one left, returns, the process exits through
    // the normal path.
    pthread_exit(nullptr);
}
