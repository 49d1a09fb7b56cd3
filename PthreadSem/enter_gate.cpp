// enter_gate — a binary semaphore used as a lock that you work by hand.
//
// A worker prints "Hello from da thread!" over and over, taking the semaphore around each line. Press
// Enter once: the program takes the semaphore itself, prints "Semaphore locked." and the greetings
// stop. Press Enter again: it prints "Semaphore unlocked.", gives the semaphore back and the greetings
// resume. A third Enter ends it. Each Enter is one character read, so typing two letters and then
// Enter does all three steps at once.
// See also permit_drain (a semaphore counting down to zero) and interrupt_release (a semaphore posted
// from a signal handler).

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <semaphore.h>

sem_t semaphore;
// Why a greeting could not be written: the error is the worker's, and main reads it holding the gate.
int lost = 0;

// No handler is installed, so nothing cuts a wait short, and the value never passes 1: none of the
// semaphore calls in this program can fail.
void* threadfunc(void*)
{
    for (;;) {
        sem_wait(&semaphore);
        if (std::puts("Hello from da thread!") == EOF)
            lost = errno;
        sem_post(&semaphore);
    }
}

int main()
{
    // Value 1: the gate starts open.
    sem_init(&semaphore, 0, 1);

    // The cell is never freed: the process ends with the worker still running.
    pthread_t* mythread = static_cast<pthread_t*>(std::malloc(sizeof(pthread_t)));
    if (mythread == nullptr) {
        std::perror("malloc");
        return 1;
    }

    std::puts("Starting thread, semaphore is unlocked.");
    int rc = pthread_create(mythread, nullptr, threadfunc, nullptr);
    if (rc != 0) {
        // Without its worker the gate has nothing to hold back.
        std::fprintf(stderr, "pthread_create: %s\n", std::strerror(rc));
        return 1;
    }

    // Each read is one step, whatever it gives back: a character, end of file or a read error.
    std::getchar();
    // The worker takes the permit again the moment it posts it, so this wait may see many more
    // greetings go by before it wins the permit.
    sem_wait(&semaphore);
    std::puts("Semaphore locked.");

    std::getchar();
    // Printed while the gate is still held, so no greeting can slip in between.
    std::puts("Semaphore unlocked.");
    sem_post(&semaphore);

    std::getchar();
    // Hold the gate while the process ends: the worker is then blocked at its wait, not halfway
    // through a line that a file or a pipe would get cut off.
    sem_wait(&semaphore);

    // Lines that never reached the file or the pipe (a full disk, a closed descriptor) are no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "enter_gate: %s\n", std::strerror(lost != 0 ? lost : errno));
        return 1;
    }
    return 0;
}
