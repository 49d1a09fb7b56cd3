// Names for addresses in a running program: the variables of its executable, read from the ELF
// symbol table with libelf, moved to where the kernel loaded them (/proc/PID/maps). This is how the
// view says "waits on semaphore" where the kernel only knows a futex at 0x55d0c3a4e040.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace demo {

class Symbols {
public:
    // The data objects of the executable that process `pid` runs, placed at their run-time
    // addresses, as its live thread `tid` sees them: once the main thread has ended (pthread_exit),
    // the process's own /proc entries show no executable and no mappings, its other threads' do.
    // Empty when the executable or its mappings can't be read (another user's process, one that has
    // ended) or it has no symbols left (a stripped binary keeps only a few in .dynsym).
    static Symbols of(pid_t pid, pid_t tid);

    // The variable whose bytes hold `address`: a futex word sits somewhere inside a sem_t or a
    // pthread_cond_t, not necessarily at its start.
    std::optional<std::string> covering(std::uint64_t address) const;

    bool empty() const { return objects_.empty(); }

private:
    struct Object {
        std::uint64_t start = 0, size = 0;
        std::string name;
    };
    std::vector<Object> objects_;  // sorted by start
};

}  // namespace demo
