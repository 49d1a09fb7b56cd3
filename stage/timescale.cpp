// The time-scaling preload library: makes sleep() and alarm() run POSIX_DEMOS_TIME_SCALE times faster
// in the program it is preloaded into, so that a 100-second handler run takes a second in the tour and
// less in a test. No program links it. What they give back (seconds left) is scaled back, so the
// program sees the values it would see unscaled.
//
// Both replacements run inside signal handlers (programs sleep in handlers and re-arm alarms there),
// so they use only nanosleep() and setitimer(), plain system calls, and the scale is read once at load.

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

#include <sys/time.h>
#include <unistd.h>

namespace {

double scale = 1;

__attribute__((constructor)) void read_scale()
{
    if (const char* text = std::getenv("POSIX_DEMOS_TIME_SCALE")) {
        double value = std::strtod(text, nullptr);
        if (value > 0)
            scale = value;
    }
}

// Seconds of the program's clock, rounded to the nearest as the C library rounds them; an alarm that
// is still set is never reported as zero seconds away.
unsigned program_seconds(double real_seconds, bool still_set)
{
    double seconds = std::floor(real_seconds * scale + 0.5);
    if (seconds < 1 && still_set && real_seconds > 0)
        seconds = 1;
    return seconds > 0 ? static_cast<unsigned>(seconds) : 0;
}

timeval real_interval(unsigned seconds)
{
    auto usec = static_cast<long long>(std::llround(seconds * 1e6 / scale));
    if (seconds > 0 && usec == 0)
        usec = 1;
    return {static_cast<time_t>(usec / 1000000), static_cast<suseconds_t>(usec % 1000000)};
}

}  // namespace

extern "C" unsigned int sleep(unsigned int seconds)
{
    int saved = errno;
    timeval tv = real_interval(seconds);
    timespec want{tv.tv_sec, tv.tv_usec * 1000L};
    timespec left{};
    unsigned result = 0;
    if (nanosleep(&want, &left) == -1 && errno == EINTR)
        result = program_seconds(
            static_cast<double>(left.tv_sec) + static_cast<double>(left.tv_nsec) / 1e9, false);
    errno = saved;
    return result;
}

extern "C" unsigned int alarm(unsigned int seconds)
{
    int saved = errno;
    itimerval next{};
    next.it_value = real_interval(seconds);
    itimerval previous{};
    setitimer(ITIMER_REAL, &next, &previous);
    errno = saved;
    return program_seconds(
        static_cast<double>(previous.it_value.tv_sec) + static_cast<double>(previous.it_value.tv_usec) / 1e6,
        true);
}
