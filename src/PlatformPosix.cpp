// Offsets past 2 GiB on 32-bit systems too: set before any system header.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier): the C library's own switch
#endif

#include "Platform.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#ifdef __linux__
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cstddef>
#endif
#if defined(__linux__) && defined(__x86_64__)
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>

#include <csignal>
#include <cstdio>
#include <iterator>
#endif

static_assert(sizeof(off_t) >= 8, "file offsets must reach past 4 GiB");

namespace {

// One system call moves at most this much; larger counts are split.
constexpr std::size_t MOST_AT_ONCE = 1 << 30;

}  // namespace

std::vector<std::string> Platform::arguments(const int argc, char* argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}

// File names are bytes here, in whatever encoding the user's files have.
std::filesystem::path Platform::pathOf(const std::string& argument) {
    return std::filesystem::path(argument);
}

bool Platform::outputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

namespace {

#ifdef QUORVEL_CONFINE
#if defined(__linux__) && defined(SYS_landlock_create_ruleset) && defined(SYS_landlock_restrict_self)
// The ruleset as the newest kernels know it; the installed headers may stop
// at an older one. A kernel is given only the fields of its own ABI.
struct LandlockRuleset {
    std::uint64_t handledAccessFs;
    std::uint64_t handledAccessNet;  // ABI 4
    std::uint64_t scoped;            // ABI 6
};
// Every file system right up to ABI 1 (execute to make a symbolic link),
// 2 (refer), 3 (truncate) and 5 (ioctl on devices); 4, 6 and 7 add none.
std::uint64_t fileSystemRights(const long abi) {
    const int rights = abi >= 5 ? 16 : abi >= 3 ? 15 : abi >= 2 ? 14 : 13;
    return (std::uint64_t{1} << rights) - 1;
}
// Named apart from the kernel's own macros, which newer headers define.
constexpr std::uint64_t NET_BIND_TCP = 1, NET_CONNECT_TCP = 2;
constexpr std::uint64_t SCOPED_ABSTRACT_UNIX_SOCKET = 1, SCOPED_SIGNAL = 2;

// Handles every right the kernel can take away and grants none back: not a
// single path can be opened, made or changed, no TCP port bound or
// connected, no process outside signalled, no abstract socket outside
// reached. What is already open stays usable. Needs no-new-privileges set
// first.
// Returns whether signals to other processes are refused.
bool restrictWithLandlock() {
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) {
        return false;  // not built into the kernel, turned off at boot, or emulated away
    }
    LandlockRuleset ruleset{fileSystemRights(abi), 0, 0};
    std::size_t size = offsetof(LandlockRuleset, handledAccessNet);
    if (abi >= 4) {
        ruleset.handledAccessNet = NET_BIND_TCP | NET_CONNECT_TCP;
        size = offsetof(LandlockRuleset, scoped);
    }
    if (abi >= 6) {
        ruleset.scoped = SCOPED_ABSTRACT_UNIX_SOCKET | SCOPED_SIGNAL;
        size = sizeof ruleset;
    }
    // The ruleset's descriptor stays open, a system call saved: what is in
    // force cannot be loosened through it, and the filter refuses every
    // Landlock call anyway.
    const long descriptor = syscall(SYS_landlock_create_ruleset, &ruleset, size, 0);
    return descriptor >= 0 && syscall(SYS_landlock_restrict_self, descriptor, 0) == 0 && abi >= 6;
}
#else
bool restrictWithLandlock() {
    return false;
}
#endif
#endif  // QUORVEL_CONFINE

#if defined(__linux__) && defined(__x86_64__)
// Builds the program with jumps to named places, resolved once all is laid out.
class FilterBuilder {
public:
    using Place = std::size_t;
    // NEXT is the instruction that follows; newPlace() names more.
    static constexpr Place NEXT = 0, REFUSE = 1, ALLOW = 2, CHECK_PROTECTION = 3, CHECK_SIGNAL = 4;
    // A call number and where the filter goes for it.
    struct Call {
        std::uint32_t number;
        Place place;
    };

    void load(const std::uint32_t offset) { add(BPF_LD | BPF_W | BPF_ABS, offset); }
    // Goes to `ifTrue` or `ifFalse`.
    void jump(const std::uint16_t test, const std::uint32_t k, const Place ifTrue, const Place ifFalse = NEXT) {
        jumps.push_back({program.size(), ifTrue, ifFalse});
        add(BPF_JMP | test | BPF_K, k);
    }
    void returns(const std::uint32_t action) { add(BPF_RET | BPF_K, action); }
    Place newPlace() {
        places.push_back(0);
        return places.size() - 1;
    }
    void here(const Place place) { places[place] = program.size(); }
    // Sends the call number loaded to the place of its entry in `calls`
    // (sorted by number), and every other number to REFUSE. The list is
    // halved rather than walked: when a filter is installed, the kernel runs
    // it ahead on every call number there is, to learn which it allows
    // whatever the arguments, and this is most of what installing costs.
    void branch(const Call* first, const Call* const last) {
        if (last - first > 4) {
            const Call* const middle = first + (last - first) / 2;
            const Place upper = newPlace();
            jump(BPF_JGE, middle->number, upper);
            branch(first, middle);
            here(upper);
            branch(middle, last);
            return;
        }
        for (; first + 1 < last; ++first) {
            jump(BPF_JEQ, first->number, first->place);
        }
        jump(BPF_JEQ, first->number, first->place, REFUSE);
    }
    std::vector<Platform::FilterInstruction> finish() {
        for (const Jump& jump : jumps) {
            const auto distance = [&](const Place place) {
                return static_cast<std::uint8_t>(place == NEXT ? 0 : places[place] - jump.at - 1);
            };
            program[jump.at].jumpIfTrue = distance(jump.ifTrue);
            program[jump.at].jumpIfFalse = distance(jump.ifFalse);
        }
        return program;
    }

private:
    struct Jump {
        std::size_t at;
        Place ifTrue, ifFalse;
    };
    void add(const std::uint32_t code, const std::uint32_t k) {
        program.push_back({static_cast<std::uint16_t>(code), 0, 0, k});
    }
    std::vector<Platform::FilterInstruction> program;
    std::vector<Jump> jumps;
    std::vector<std::size_t> places = std::vector<std::size_t>(CHECK_SIGNAL + 1);
};

// Everything a run makes once its input is open, found with strace over
// every kind of run (files, streams, a terminal, a full disk, a closed
// pipe): reading the input, writing the listing (writev: the C++ library
// writes its buffer and what follows in one call), memory, closing the input,
// the end. The signal mask, getpid, gettid and tgkill are how the C library
// aborts on a detected overflow or an uncaught exception, so that such a
// crash still shows as SIGABRT. mmap, mprotect and tgkill are checked further
// on. Kept in step with the list in the README, and in order of number.
using B = FilterBuilder;
constexpr B::Call LISTED[] = {
    {SYS_read, B::ALLOW},       {SYS_write, B::ALLOW},          {SYS_close, B::ALLOW},
    {SYS_lseek, B::ALLOW},      {SYS_mmap, B::CHECK_PROTECTION}, {SYS_mprotect, B::CHECK_PROTECTION},
    {SYS_munmap, B::ALLOW},     {SYS_brk, B::ALLOW},            {SYS_rt_sigprocmask, B::ALLOW},
    {SYS_writev, B::ALLOW},     {SYS_mremap, B::ALLOW},         {SYS_getpid, B::ALLOW},
    {SYS_gettid, B::ALLOW},     {SYS_exit_group, B::ALLOW},     {SYS_tgkill, B::CHECK_SIGNAL},
};
constexpr bool inOrderOfNumber() {
    for (std::size_t i = 1; i < std::size(LISTED); ++i) {
        if (LISTED[i - 1].number >= LISTED[i].number) {
            return false;
        }
    }
    return true;
}
static_assert(inOrderOfNumber(), "the filter halves the list, which must be in order of number");

// The low half of argument `n` (x86-64 is little-endian): the kernel reads
// protections and signal numbers from it alone.
constexpr std::uint32_t argument(const std::uint32_t n) {
    return static_cast<std::uint32_t>(offsetof(seccomp_data, args) + 8 * n);
}
#endif

}  // namespace

#if defined(__linux__) && defined(__x86_64__)
std::vector<Platform::FilterInstruction> Platform::systemCallFilter(const int self) {
    B filter;
    // Another architecture's numbers mean other calls (an i386 call through
    // int 0x80 has its own table), and x32's share x86-64's with a high bit.
    filter.load(offsetof(seccomp_data, arch));
    filter.jump(BPF_JEQ, AUDIT_ARCH_X86_64, B::NEXT, B::REFUSE);
    filter.load(offsetof(seccomp_data, nr));
    filter.jump(BPF_JGE, __X32_SYSCALL_BIT, B::REFUSE);
    filter.branch(std::begin(LISTED), std::end(LISTED));
    // Memory may be mapped or changed, but never made executable: no code
    // but the program's own ever runs.
    filter.here(B::CHECK_PROTECTION);
    filter.load(argument(2));
    filter.jump(BPF_JSET, PROT_EXEC, B::REFUSE, B::ALLOW);
    // abort() sends SIGABRT to this process, and nothing else to anyone.
    filter.here(B::CHECK_SIGNAL);
    if (self != 0) {
        filter.load(argument(0));
        filter.jump(BPF_JEQ, static_cast<std::uint32_t>(self), B::NEXT, B::REFUSE);
    }
    filter.load(argument(2));
    filter.jump(BPF_JEQ, SIGABRT, B::ALLOW, B::REFUSE);
    // Any other call ends the process at once (SIGSYS) rather than failing
    // with an error: the run itself never makes one, so one can only come
    // from code that has been taken over, which must not get to try call
    // after call, nor go on with what an error leaves it. The end is plain
    // to see (status 159) and the kernel's audit log records the call.
    filter.here(B::REFUSE);
    filter.returns(SECCOMP_RET_KILL_PROCESS);
    filter.here(B::ALLOW);
    filter.returns(SECCOMP_RET_ALLOW);
    return filter.finish();
}
#endif

void Platform::confine() {
#ifdef QUORVEL_CONFINE
    const char* const off = std::getenv("QUORVEL_NO_CONFINE");
    if (off != nullptr && *off != '\0' && std::strcmp(off, "0") != 0) {
        return;
    }
#ifdef __linux__
    // Landlock and the filter both need it; a program started later (there
    // is none) could not gain privileges through set-user-ID either.
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    [[maybe_unused]] const bool signalsScoped = restrictWithLandlock();
#endif
    // No new descriptor, of any kind; the open ones keep working. The one
    // mechanism every POSIX system has.
    const rlimit none{0, 0};
    setrlimit(RLIMIT_NOFILE, &none);
#if defined(__linux__) && defined(__x86_64__)
#ifdef _LIBCPP_VERSION
    // The C library sizes standard output's buffer with fstat (and asks
    // whether it is a terminal) at its first write, and libc++ writes
    // through it (libstdc++ writes to the descriptor itself): have that done
    // now, while it may be. Fully buffered, as the tool flushes once at the
    // end anyway.
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
#endif
    // Where Landlock already keeps signals inside, the filter need not know
    // who this process is.
    std::vector<FilterInstruction> instructions = systemCallFilter(signalsScoped ? 0 : static_cast<int>(getpid()));
    static_assert(sizeof(FilterInstruction) == sizeof(sock_filter), "laid out as the kernel's");
    std::vector<sock_filter> program(instructions.size());
    std::memcpy(program.data(), instructions.data(), program.size() * sizeof(sock_filter));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0);
#endif
#endif
}

bool Platform::openInput(const std::string& argument, Input& input) {
    input = Input();
    const bool standardInput = argument == "-";
    int descriptor = STDIN_FILENO;
    if (!standardInput) {
        do {
            descriptor = open(argument.c_str(), O_RDONLY | O_CLOEXEC);
        } while (descriptor < 0 && errno == EINTR);
        if (descriptor < 0) {
            return false;
        }
    }
    struct stat status {};
    const bool known = fstat(descriptor, &status) == 0 && !S_ISDIR(status.st_mode);
    if (!known) {
        if (!standardInput) {
            close(descriptor);
        }
        return false;
    }
    input.descriptor = descriptor;
    input.owned = !standardInput;
    // A regular file that reports no size (most of /proc) is read as cat
    // reads it, front to back; a block device tells its size only to a seek.
    off_t start = 0;
    off_t end = 0;
    if (S_ISREG(status.st_mode) && status.st_size > 0) {
        end = status.st_size;
        start = standardInput ? lseek(descriptor, 0, SEEK_CUR) : 0;
    } else if (S_ISBLK(status.st_mode)) {
        start = lseek(descriptor, 0, SEEK_CUR);
        end = start < 0 ? -1 : lseek(descriptor, 0, SEEK_END);
        if (end >= 0 && lseek(descriptor, start, SEEK_SET) < 0) {
            end = -1;
        }
    } else {
        return true;
    }
    if (start < 0 || end < 0) {
        // Not seekable after all: read it as a stream.
        return true;
    }
    input.file = true;
    input.start = static_cast<std::uint64_t>(start);
    input.size = end > start ? static_cast<std::uint64_t>(end - start) : 0;
    return true;
}

std::size_t Platform::readInput(const Input& input, char* destination, const std::size_t count) {
    for (;;) {
        const ssize_t got = read(input.descriptor, destination, count < MOST_AT_ONCE ? count : MOST_AT_ONCE);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

bool Platform::seekInput(const Input& input, const std::uint64_t offset) {
    const std::uint64_t target = input.start + offset;
    if (target < offset || target > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        return false;
    }
    return lseek(input.descriptor, static_cast<off_t>(target), SEEK_SET) >= 0;
}

bool Platform::closeInput(Input& input) {
    const bool closed = !input.owned || close(input.descriptor) == 0;
    input = Input();
    return closed;
}

bool Platform::writeOutput(const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, count < MOST_AT_ONCE ? count : MOST_AT_ONCE);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

// Output is binary here, and terminals take what they are given.
Platform::BinaryOutput::BinaryOutput() : space() {
    setp(space.data(), space.data() + space.size());
    previous = std::cout.rdbuf(this);
}

Platform::BinaryOutput::~BinaryOutput() {
    drain();
    std::cout.rdbuf(previous);
}

// A member: Windows' gives the console its code page back first.
void Platform::BinaryOutput::failed() {  // NOLINT(readability-convert-member-functions-to-static)
    std::_Exit(1);
}
