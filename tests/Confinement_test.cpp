// What the process can still do once it is confined, and the system call filter run on made-up calls.

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>

#include "Platform.h"
#include "TestSupport.h"

#ifdef __linux__
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#endif

namespace {

using test::Bytes;

// Which mechanisms this kernel (or emulator) has; the descriptor limit is everywhere.
bool hasLandlock() {
#ifdef SYS_landlock_create_ruleset
    return syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) >= 1;
#else
    return false;
#endif
}
bool hasFilter() {
#if defined(__linux__) && defined(__x86_64__)
    std::uint32_t action = SECCOMP_RET_KILL_PROCESS;
    return syscall(SYS_seccomp, SECCOMP_GET_ACTION_AVAIL, 0, &action) == 0;
#else
    return false;
#endif
}

enum Needs { NOTHING, LANDLOCK_OR_FILTER, FILTER };
const std::string sample = test::dataPath("ffmpeg_vp9_opus.webm");
// An anonymous page mapped with `protection`, then changed to `changed`.
bool mapped(int protection, int changed) {
    void* page = mmap(nullptr, 4096, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return page != MAP_FAILED && mprotect(page, 4096, changed) == 0;
}

// Each action runs in a child of its own that opened a sample, made its standard output a pipe and was confined
// (a refused call may end it): true when the action succeeded.
TEST(Confinement, AfterwardsOnlyTheOpenInputAndTheOutputWork) {
#ifndef QUORVEL_CONFINE
    GTEST_SKIP() << "built without confinement (QUORVEL_CONFINE off)";
#endif
    constexpr int r = PROT_READ, rw = PROT_READ | PROT_WRITE, rx = PROT_READ | PROT_EXEC;
    const struct { const char* name; bool allowed; Needs needs; bool (*action)(int input); } rows[] = {
        {"reading the open input", true, NOTHING,
         [](int input) { char b[4]; return read(input, b, 4) == 4 && Bytes(b, 4) == "\x1A\x45\xDF\xA3"; }},
        {"writing standard output", true, NOTHING, [](int) { return write(1, "ok", 2) == 2; }},
        {"memory made writable", true, NOTHING, [](int) { return mapped(r, rw); }},
        {"opening a readable file", false, NOTHING, [](int) { return open(sample.c_str(), O_RDONLY) >= 0; }},
        {"creating a socket", false, NOTHING, [](int) { return socket(AF_INET, SOCK_STREAM, 0) >= 0; }},
        {"executing /bin/true", false, LANDLOCK_OR_FILTER,
         [](int) { return execl("/bin/true", "true", nullptr) == 0; }},
        {"memory made executable", false, FILTER, [](int) { return mapped(rw, rx); }},
        {"executable memory mapped", false, FILTER, [](int) { return mapped(rx, rx); }},
        // A crash that aborts still shows as one, not as the filter's doing (0: it did not end the child).
        {"abort()", false, NOTHING, [](int) { std::abort(); return false; }},
        {"opening a file with QUORVEL_NO_CONFINE=1", true, NOTHING,
         [](int) { return open(sample.c_str(), O_RDONLY) >= 0; }}};
    const bool landlock = hasLandlock(), filter = hasFilter();
    std::string skipped;
    for (const auto& row : rows) {
        const std::string name = row.name;
        if ((row.needs == FILTER && !filter) || (row.needs == LANDLOCK_OR_FILTER && !landlock && !filter)) {
            skipped += name + "; ";
            continue;
        }
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        const pid_t child = fork();
        if (child == 0) {
            const rlimit noCore{0, 0};  // the abort leaves no core file behind
            setrlimit(RLIMIT_CORE, &noCore);
            dup2(out[1], STDOUT_FILENO);
            const int input = open(sample.c_str(), O_RDONLY);
            if (name.find("QUORVEL_NO_CONFINE") != std::string::npos) setenv("QUORVEL_NO_CONFINE", "1", 1);
            Platform::confine();
            _exit(row.action(input) ? 0 : 1);
        }
        close(out[1]);
        int raw = 0;
        waitpid(child, &raw, 0);
        char got[8] = {};
        const ssize_t n = read(out[0], got, sizeof got);
        close(out[0]);
        const int refusal = name == "abort()" ? SIGABRT : SIGSYS;
        const bool refused = (WIFSIGNALED(raw) && WTERMSIG(raw) == refusal) ||
                             (WIFEXITED(raw) && WEXITSTATUS(raw) == 1 && refusal == SIGSYS);
        EXPECT_TRUE(row.allowed ? WIFEXITED(raw) && WEXITSTATUS(raw) == 0 : refused) << name << ": wait status " << raw;
        const Bytes output(got, n > 0 ? static_cast<std::size_t>(n) : 0);
        EXPECT_EQ(output, name == "writing standard output" ? "ok" : "") << name;
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "not checked, this kernel or emulator lacks " << (filter ? "" : "the system call filter")
                     << (landlock ? "" : " and Landlock") << ": " << skipped;
    }
}

#if defined(__linux__) && defined(__x86_64__)
// Runs the filter on one made-up call, as the kernel would: the action it returns, and in `steps` how many
// instructions it ran.
std::uint32_t judge(const std::vector<Platform::FilterInstruction>& program, std::uint32_t arch, std::uint32_t nr,
                    std::initializer_list<std::uint64_t> args = {}, std::size_t* steps = nullptr) {
    seccomp_data call{};
    call.arch = arch, call.nr = static_cast<int>(nr);
    std::copy(args.begin(), args.end(), call.args);
    std::uint32_t a = 0;
    for (std::size_t pc = 0; pc < program.size(); ++pc) {
        const Platform::FilterInstruction& i = program[pc];
        if (steps != nullptr) ++*steps;
        bool condition = false;
        switch (i.code) {
            case BPF_LD | BPF_W | BPF_ABS:
                if (i.k % 4 != 0 || i.k + 4 > sizeof call) return ~0u;
                std::memcpy(&a, reinterpret_cast<const char*>(&call) + i.k, 4);
                continue;
            case BPF_RET | BPF_K: return i.k;
            case BPF_JMP | BPF_JEQ | BPF_K: condition = a == i.k; break;
            case BPF_JMP | BPF_JGE | BPF_K: condition = a >= i.k; break;
            case BPF_JMP | BPF_JSET | BPF_K: condition = (a & i.k) != 0; break;
            default: return ~0u;  // nothing else is expected in it
        }
        pc += condition ? i.jumpIfTrue : i.jumpIfFalse;
    }
    return ~0u;  // ran off its end, which the kernel refuses to load
}

TEST(Confinement, FilterAllowsOnlyTheListedCallsOfThisArchitecture) {
    const std::uint32_t allow = SECCOMP_RET_ALLOW, kill = SECCOMP_RET_KILL_PROCESS, x86 = AUDIT_ARCH_X86_64;
    const std::uint32_t self = 4242;
    const struct { const char* name; std::uint32_t arch, nr; std::initializer_list<std::uint64_t> args; int self;
                   std::uint32_t action; } calls[] = {
        {"read", x86, SYS_read, {}, 0, allow}, {"close", x86, SYS_close, {}, 0, allow},
        {"read, numbered as x32 does", x86, SYS_read | __X32_SYSCALL_BIT, {}, 0, kill},
        {"i386's read (3, x86-64's close)", AUDIT_ARCH_I386, 3, {}, 0, kill},
        {"openat", x86, SYS_openat, {}, 0, kill}, {"open", x86, SYS_open, {}, 0, kill},
        {"execve", x86, SYS_execve, {}, 0, kill}, {"socket", x86, SYS_socket, {}, 0, kill},
        {"a number past every table", x86, 100000, {}, 0, kill},
        {"mmap, read and write", x86, SYS_mmap, {0, 4096, PROT_READ | PROT_WRITE}, 0, allow},
        {"mmap, executable", x86, SYS_mmap, {0, 4096, PROT_READ | PROT_EXEC}, 0, kill},
        {"mmap, executable in the high half too", x86, SYS_mmap, {0, 4096, 0x100000000 | PROT_EXEC}, 0, kill},
        {"mprotect, executable", x86, SYS_mprotect, {0, 4096, PROT_EXEC}, 0, kill},
        {"mprotect, read only", x86, SYS_mprotect, {0, 4096, PROT_READ}, 0, allow},
        {"abort's SIGABRT to itself", x86, SYS_tgkill, {self, self, SIGABRT}, 4242, allow},
        {"SIGABRT to another process", x86, SYS_tgkill, {1, 1, SIGABRT}, 4242, kill},
        {"SIGKILL to itself", x86, SYS_tgkill, {self, self, SIGKILL}, 4242, kill},
        {"SIGABRT, Landlock keeping signals inside", x86, SYS_tgkill, {1, 1, SIGABRT}, 0, allow},
        {"kill", x86, SYS_kill, {self, SIGABRT}, 0, kill}};
    for (const auto& c : calls) {
        EXPECT_EQ(judge(Platform::systemCallFilter(c.self), c.arch, c.nr, c.args), c.action) << c.name;
    }
    // Installing the filter runs it ahead on every call number: the list is halved, not walked call by call.
    std::size_t longest = 0;
    for (std::uint32_t nr = 0; nr < 1024; ++nr) {
        std::size_t steps = 0;
        judge(Platform::systemCallFilter(0), x86, nr, {}, &steps);
        longest = std::max(longest, steps);
    }
    EXPECT_LE(longest, 13u);  // in a list walked call by call: 22
}

// The calls that strace sees the tool make once the filter is in (files, streams, fuzz inputs, a full disk) are on the
// README's list, and the filter allows exactly as many calls as the list names.
TEST(Confinement, TheReadmeListsTheCallsARunMakes) {
#ifndef QUORVEL_CONFINE
    GTEST_SKIP() << "built without confinement (QUORVEL_CONFINE off)";
#endif
    if (std::system("strace -qq -o /dev/null true > /dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot trace here";
    std::set<std::string> listed, seen;
    std::istringstream readme(test::readFile(test::dataPath("../README.md")));
    for (std::string line; std::getline(readme, line);) {
        if (line.find("allows these system calls") == std::string::npos) continue;
        for (auto p = line.find('`'); p != std::string::npos; p = line.find('`', line.find('`', p + 1) + 1)) {
            listed.insert(line.substr(p + 1, line.find('`', p + 1) - p - 1));
        }
    }
    const std::vector<Platform::FilterInstruction> filter = Platform::systemCallFilter(0);
    std::size_t allowed = 0;
    for (std::uint32_t nr = 0; nr < 1024; ++nr) {
        const bool any = judge(filter, AUDIT_ARCH_X86_64, nr) == SECCOMP_RET_ALLOW ||
                         judge(filter, AUDIT_ARCH_X86_64, nr, {0, 0, SIGABRT}) == SECCOMP_RET_ALLOW;
        allowed += any ? 1 : 0;
    }
    EXPECT_EQ(allowed, listed.size());
    const test::TempFile trace("");
    const std::string strace = "strace -f -n -qq -o '" + trace.path + "' " QUORVEL_BINARY;
    std::size_t i = 0;  // the first input's output goes to a full disk; every second one arrives through a pipe
    for (const char* dir : {QUORVEL_DATA_DIR, QUORVEL_FUZZ_DIR "/regressions"}) {
        for (const auto& file : std::filesystem::directory_iterator(dir)) {
            if (!file.is_regular_file() || file.path().extension() == ".md") continue;
            const std::string input = "'" + file.path().string() + "'";
            std::string command = i % 2 == 1 ? "cat " + input + " | " : std::string();
            command.append(strace).append(i % 2 == 1 ? " -" : " " + input);
            command.append(i == 0 ? " >/dev/full" : " >/dev/null");
            ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), i++ == 0 ? 1 : 0) << command;
            std::istringstream lines(test::readFile(trace.path));
            bool filtered = false;
            for (std::string line; std::getline(lines, line);) {
                const auto open = line.find("] "), call = line.find('(');
                if (open == std::string::npos || call == std::string::npos) continue;
                if (filtered) seen.insert(line.substr(open + 2, call - open - 2));
                filtered = filtered || line.find("PR_SET_SECCOMP") != std::string::npos;
            }
            EXPECT_TRUE(filtered) << input;
        }
    }
    for (const std::string& name : seen) EXPECT_EQ(listed.count(name), 1U) << name << " is not on the README's list";
    EXPECT_GE(seen.size(), 3U);  // read, write and exit_group at least: the trace was read
}
#else
// The filter is built for x86-64 Linux alone: here its cases are skipped, so that every build counts the same cases.
TEST(Confinement, FilterAllowsOnlyTheListedCallsOfThisArchitecture) {
    GTEST_SKIP() << "the system call filter is built for x86-64 Linux alone";
}
TEST(Confinement, TheReadmeListsTheCallsARunMakes) {
    GTEST_SKIP() << "the system call filter is built for x86-64 Linux alone";
}
#endif

}  // namespace
