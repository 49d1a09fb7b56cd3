// Test-only preload library: makes chosen calls fail, so that the programs' failure paths can be
// seen without exhausting the machine. POSIX_DEMOS_FAULTS holds a plan of comma-separated entries
//
//     <call>#<n>=<ERRNO>      the n-th call of <call> fails with that error
//
// where <call> is pthread_create, fork, sem_init or malloc(<size>) (only calls of that size count).
// POSIX_DEMOS_KILL_LOG names a file that gets one line "<pid> <signal>\n" for every kill() made;
// kill() itself is then made as asked.

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

extern "C" void* __libc_malloc(std::size_t size);  // glibc's own: serves the calls made while the
                                                   // next malloc is being looked up

namespace {

enum Call { PthreadCreate, Fork, SemInit, Malloc, Calls };

struct Fault {
    std::size_t size;  // for malloc
    long nth;
    Call call;
    int error;
};

Fault plan[16];
int planned = 0;
std::atomic<long> seen[Calls];
std::atomic<long> seen_malloc_size[16];  // per plan entry, for malloc(<size>)
const char* kill_log = nullptr;

int error_number(const char* name)
{
    struct Named {
        const char* name;
        int number;
    };
    static const Named known[] = {{"EAGAIN", EAGAIN}, {"ENOMEM", ENOMEM}, {"EINVAL", EINVAL},
        {"ENOSYS", ENOSYS}, {"EPERM", EPERM}, {"ENOSPC", ENOSPC}};
    for (const Named& n : known)
        if (std::strcmp(n.name, name) == 0)
            return n.number;
    return static_cast<int>(std::strtol(name, nullptr, 10));
}

__attribute__((constructor)) void read_plan()
{
    kill_log = std::getenv("POSIX_DEMOS_KILL_LOG");
    const char* text = std::getenv("POSIX_DEMOS_FAULTS");
    if (text == nullptr)
        return;
    char entry[64];
    while (*text != '\0' && planned < 16) {
        std::size_t length = std::strcspn(text, ",");
        std::size_t kept = length < sizeof entry - 1 ? length : sizeof entry - 1;
        std::memcpy(entry, text, kept);
        entry[kept] = '\0';
        text += length + (text[length] == ',' ? 1 : 0);

        char* hash = std::strchr(entry, '#');
        char* equals = hash ? std::strchr(hash, '=') : nullptr;
        if (equals == nullptr)
            continue;
        *hash = '\0';
        Fault f{0, std::strtol(hash + 1, nullptr, 10), Calls, error_number(equals + 1)};
        if (std::strcmp(entry, "pthread_create") == 0)
            f.call = PthreadCreate;
        else if (std::strcmp(entry, "fork") == 0)
            f.call = Fork;
        else if (std::strcmp(entry, "sem_init") == 0)
            f.call = SemInit;
        else if (std::strncmp(entry, "malloc(", 7) == 0) {
            f.call = Malloc;
            f.size = std::strtoul(entry + 7, nullptr, 10);
        }
        if (f.call != Calls)
            plan[planned++] = f;
    }
}

// The error this call must fail with, or 0 to let it through.
int failure_for(Call call)
{
    long n = ++seen[call];
    for (int i = 0; i < planned; ++i)
        if (plan[i].call == call && plan[i].nth == n)
            return plan[i].error;
    return 0;
}

template <typename F> F next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

}  // namespace

// The C library declares it with reserved parameter names, which we may not use.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int pthread_create(
    pthread_t* newthread, const pthread_attr_t* attr, void* (*start_routine)(void*), void* arg)
{
    if (int error = failure_for(PthreadCreate))
        return error;
    static auto real =
        next<int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*)>("pthread_create");
    return real(newthread, attr, start_routine, arg);
}

extern "C" pid_t fork()
{
    if (int error = failure_for(Fork)) {
        errno = error;
        return -1;
    }
    static auto real = next<pid_t (*)()>("fork");
    return real();
}

extern "C" int sem_init(sem_t* sem, int pshared, unsigned value)
{
    if (int error = failure_for(SemInit)) {
        errno = error;
        return -1;
    }
    static auto real = next<int (*)(sem_t*, int, unsigned)>("sem_init");
    return real(sem, pshared, value);
}

extern "C" void* malloc(std::size_t size)
{
    for (int i = 0; i < planned; ++i) {
        if (plan[i].call == Malloc && plan[i].size == size && ++seen_malloc_size[i] == plan[i].nth) {
            errno = plan[i].error;
            return nullptr;
        }
    }
    // The next malloc may be a sanitizer's, whose free() must see only its own blocks; looking it
    // up may itself allocate, and those few early blocks come from the C library directly.
    static void* (*real)(std::size_t) = nullptr;
    static bool looking_up = false;  // the first malloc comes before any second thread
    if (real == nullptr) {
        if (looking_up)
            return __libc_malloc(size);
        looking_up = true;
        real = next<void* (*)(std::size_t)>("malloc");
        looking_up = false;
    }
    return real(size);
}

extern "C" int kill(pid_t pid, int sig)
{
    if (kill_log != nullptr) {
        int fd = open(kill_log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd != -1) {
            char line[48];
            int length = std::snprintf(line, sizeof line, "%d %d\n", static_cast<int>(pid), sig);
            if (write(fd, line, static_cast<std::size_t>(length)) < 0) {
                // The record is lost; the signal is still sent.
            }
            close(fd);
        }
    }
    static auto real = next<int (*)(pid_t, int)>("kill");
    return real(pid, sig);
}
