#include "symbols.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <cxxabi.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace demo {

namespace {

struct CloseFd {
    int fd;
    ~CloseFd()
    {
        if (fd >= 0)
            close(fd);
    }
};

struct EndElf {
    void operator()(Elf* elf) const { elf_end(elf); }
};

// A static local or a name in a namespace comes mangled; the reader wants it as the source says it.
std::string readable(const char* name)
{
    if (std::strncmp(name, "_Z", 2) != 0)
        return name;
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> plain(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return status == 0 && plain ? std::string(plain.get()) : std::string(name);
}

// Where the executable's first byte (file offset 0) is mapped in the process: the first line of
// the maps file for that file (matched by device and inode, since its path may have gone).
std::optional<std::uint64_t> mapped_start(pid_t pid, pid_t tid, const struct stat& exe)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d/maps", pid, tid);
    std::FILE* maps = std::fopen(path, "re");
    if (maps == nullptr)
        return std::nullopt;
    std::optional<std::uint64_t> found;
    char line[512];
    while (!found && std::fgets(line, sizeof line, maps)) {
        // "start-end perms offset major:minor inode path": all in hexadecimal but the inode.
        char* at = nullptr;
        std::uint64_t start = std::strtoull(line, &at, 16);
        char* perms = std::strchr(at, ' ');
        char* after_perms = perms != nullptr ? std::strchr(perms + 1, ' ') : nullptr;
        if (after_perms != nullptr) {
            std::uint64_t offset = std::strtoull(after_perms, &at, 16);
            auto major = static_cast<unsigned>(std::strtoul(at, &at, 16));
            auto minor = *at == ':' ? static_cast<unsigned>(std::strtoul(at + 1, &at, 16)) : ~0U;
            std::uint64_t inode = std::strtoull(at, &at, 10);
            if (inode == exe.st_ino && makedev(major, minor) == exe.st_dev && offset == 0)
                found = start;
        }
        // A line longer than the buffer continues in the next read: skip its rest.
        while (std::strchr(line, '\n') == nullptr && std::fgets(line, sizeof line, maps)) { }
    }
    std::fclose(maps);
    return found;
}

}  // namespace

Symbols Symbols::of(pid_t pid, pid_t tid)
{
    Symbols found;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/task/%d/exe", pid, tid);
    CloseFd exe{open(path, O_RDONLY | O_CLOEXEC)};
    struct stat about { };
    if (exe.fd < 0 || fstat(exe.fd, &about) != 0)
        return found;

    elf_version(EV_CURRENT);
    std::unique_ptr<Elf, EndElf> elf(elf_begin(exe.fd, ELF_C_READ_MMAP, nullptr));
    GElf_Ehdr header;
    if (!elf || elf_kind(elf.get()) != ELF_K_ELF || gelf_getehdr(elf.get(), &header) == nullptr)
        return found;

    // The load bias: where the first loadable segment landed, less where the file asked for it
    // (nothing for a fixed-address executable, everything for a position-independent one).
    std::size_t segments = 0;
    if (elf_getphdrnum(elf.get(), &segments) != 0)
        return found;
    std::optional<std::uint64_t> linked;
    for (std::size_t i = 0; i < segments && !linked; ++i) {
        GElf_Phdr segment;
        if (gelf_getphdr(elf.get(), static_cast<int>(i), &segment) != nullptr && segment.p_type == PT_LOAD)
            linked = segment.p_vaddr - segment.p_offset;
    }
    std::optional<std::uint64_t> start = mapped_start(pid, tid, about);
    if (!linked || !start)
        return found;
    std::uint64_t bias = *start - *linked;

    // The full symbol table if the binary still has it, else the dynamic one that stripping keeps.
    Elf_Scn* table = nullptr;
    GElf_Shdr table_header{};
    for (Elf_Scn* section = nullptr; (section = elf_nextscn(elf.get(), section)) != nullptr;) {
        GElf_Shdr h;
        if (gelf_getshdr(section, &h) == nullptr)
            continue;
        if (h.sh_type == SHT_SYMTAB || (h.sh_type == SHT_DYNSYM && table == nullptr)) {
            table = section;
            table_header = h;
        }
    }
    Elf_Data* data = table ? elf_getdata(table, nullptr) : nullptr;
    if (data == nullptr || table_header.sh_entsize == 0)
        return found;
    std::size_t count = table_header.sh_size / table_header.sh_entsize;
    for (std::size_t i = 0; i < count; ++i) {
        GElf_Sym symbol;
        if (gelf_getsym(data, static_cast<int>(i), &symbol) == nullptr)
            continue;
        if (GELF_ST_TYPE(symbol.st_info) != STT_OBJECT || symbol.st_size == 0 || symbol.st_shndx == SHN_UNDEF)
            continue;
        const char* name = elf_strptr(elf.get(), table_header.sh_link, symbol.st_name);
        if (name == nullptr || *name == '\0')
            continue;
        found.objects_.push_back({symbol.st_value + bias, symbol.st_size, readable(name)});
    }
    std::sort(found.objects_.begin(), found.objects_.end(),
        [](const Object& a, const Object& b) { return a.start < b.start; });
    return found;
}

std::optional<std::string> Symbols::covering(std::uint64_t address) const
{
    // The last object starting at or before the address, if the address is within its size.
    auto after = std::upper_bound(objects_.begin(), objects_.end(), address,
        [](std::uint64_t a, const Object& o) { return a < o.start; });
    if (after == objects_.begin())
        return std::nullopt;
    const Object& candidate = *std::prev(after);
    if (address - candidate.start < candidate.size)
        return candidate.name;
    return std::nullopt;
}

}  // namespace demo
