#ifndef QUORVEL_TEST_SUPPORT_H
#define QUORVEL_TEST_SUPPORT_H

// A tiny EBML writer for test files, and helpers to run the tool; brings GoogleTest and the headers tests share.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace test {

using Bytes = std::string;  // raw bytes; std::string keeps zero bytes

// The IDs the tests build files with, written out here rather than taken from the code under test.
constexpr std::uint32_t EBML_HEADER = 0x1A45DFA3, DOC_TYPE = 0x4282, SEGMENT = 0x18538067, SEEKHEAD = 0x114D9B74,
                        SEEK = 0x4DBB, SEEK_ID = 0x53AB, INFO = 0x1549A966, TRACKS = 0x1654AE6B, TRACK_ENTRY = 0xAE,
                        TRACK_NUMBER = 0xD7, CODEC_ID = 0x86, CODEC_PRIVATE = 0x63A2, VOID = 0xEC, CRC = 0xBF;

// Big-endian `value` in `width` bytes; in the fewest that hold it when `width` is 0.
inline Bytes uint(std::uint64_t value, int width = 0) {
    while (width == 0 || (width < 8 && value >> (8 * width) != 0)) ++width;
    Bytes out;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}
// A size field of `width` bytes (1 to 8) holding `value`; with all value bits set it says "size not known".
inline Bytes size(std::uint64_t value, int width) { return uint(value | (1ull << (7 * width)), width); }
inline Bytes unknownSize(int width = 8) { return size((1ull << (7 * width)) - 1, width); }
// An element (an ID keeps its marker bits); its size field `width` bytes wide, or as narrow as the payload allows.
inline Bytes element(std::uint32_t id, const Bytes& payload, int width = 0) {
    while (width == 0 || payload.size() >= (1ull << (7 * width)) - 1) ++width;
    return uint(id) + size(payload.size(), width) + payload;
}
inline Bytes master(std::uint32_t id, std::initializer_list<Bytes> children, int width = 0) {
    return element(id, std::accumulate(children.begin(), children.end(), Bytes()), width);
}
// A master whose size says "not known"; its children simply follow.
inline Bytes unknownSizeMaster(std::uint32_t id, std::initializer_list<Bytes> children) {
    return std::accumulate(children.begin(), children.end(), uint(id) + unknownSize());
}
inline Bytes ebmlHeader(const Bytes& docType) {
    return master(EBML_HEADER, {element(0x4286, uint(1)), element(DOC_TYPE, docType)});
}

// A file in a fresh temporary folder, removed with the object.
struct TempFile {
    explicit TempFile(const Bytes& contents) : dir(mkdtemp(pattern)), path(dir + "/input.mkv") {
        std::ofstream(path, std::ios::binary) << contents;
    }
    ~TempFile() { std::filesystem::remove_all(dir); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    char pattern[32] = "/tmp/quorvel-test-XXXXXX";
    std::string dir, path;
};

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline std::string dataPath(const std::string& name) { return std::string(QUORVEL_DATA_DIR) + "/" + name; }

// What a run of the tool gave: standard output, standard error, exit status.
using RunResult = std::tuple<std::string, std::string, int>;
// What a run that writes `out`, nothing on standard error, and ends with `status` gives.
inline RunResult ran(const std::string& out, int status = 0) { return {out, "", status}; }

// How the tool is run: its standard input (a descriptor; -1: closed) or, with `piped`, a pipe those bytes are
// written into (with `live` the writer then stays, silent, until the tool has ended, as a live recording would);
// its standard output (a descriptor; -1: a pipe read back or, with `terminal`, a pseudo-terminal in raw mode, so no
// CR is added to a newline). A run not over within `seconds` (one that blocks on a FIFO, say) is killed: status -1.
struct Setup {
    int input = STDIN_FILENO, output = -1;
    bool terminal = false;
    int seconds = 60;
    const Bytes* piped = nullptr;
    bool live = false;
};
// Runs the tool with `args`: its output, standard error and exit status; nothing when no pipe or terminal opens.
inline std::optional<RunResult> runTool(const std::vector<std::string>& args, const Setup& setup) {
    int ends[2] = {-1, -1}, input[2] = {setup.input, -1};  // read, write
    const bool terminal = setup.terminal;
    if (terminal ? openpty(&ends[0], &ends[1], nullptr, nullptr, nullptr) != 0 : pipe(ends) != 0) return std::nullopt;
    if (setup.piped != nullptr && pipe2(input, O_CLOEXEC) != 0) return std::nullopt;
    termios mode{};
    if (terminal && tcgetattr(ends[1], &mode) == 0) cfmakeraw(&mode), tcsetattr(ends[1], TCSANOW, &mode);
    std::signal(SIGPIPE, SIG_IGN);  // the tool may end before the writer is done: its writes then fail
    std::thread writer([&setup, end = input[1]] {
        const Bytes& bytes = setup.piped != nullptr ? *setup.piped : Bytes();
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(end, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (!setup.live && end >= 0) close(end);
    });
    const TempFile errors("");
    std::vector<std::string> command{QUORVEL_COMMAND};  // the emulator of a cross build (qemu-user), if any, first
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv(command.size() + 1, nullptr);
    for (std::size_t i = 0; i < command.size(); ++i) argv[i] = command[i].data();
    const pid_t child = fork();
    if (child == 0) {
        dup2(setup.output >= 0 ? setup.output : ends[1], STDOUT_FILENO);
        dup2(open(errors.path.c_str(), O_WRONLY), STDERR_FILENO);
        close(ends[0]);
        if (input[0] < 0) close(STDIN_FILENO);
        else dup2(input[0], STDIN_FILENO);
        execvp(argv[0], argv.data());  // the emulator is looked for on the PATH, as CTest does
        _exit(127);
    }
    close(ends[1]);
    std::string out;
    pollfd ready{ends[0], POLLIN, 0};
    char chunk[4096];
    ssize_t n = 0;
    while (poll(&ready, 1, setup.seconds * 1000) > 0 && (n = read(ends[0], chunk, sizeof chunk)) > 0) {
        out.append(chunk, static_cast<std::size_t>(n));
    }
    close(ends[0]);
    kill(child, SIGKILL);  // nothing to end after a normal exit
    int raw = 0;
    waitpid(child, &raw, 0);
    if (setup.piped != nullptr) close(input[0]);  // the last read end goes: a writer still writing stops
    writer.join();
    if (setup.piped != nullptr && setup.live) close(input[1]);
    return RunResult{out, readFile(errors.path), WIFEXITED(raw) ? WEXITSTATUS(raw) : -1};
}
inline RunResult runTool(const std::vector<std::string>& args) { return *runTool(args, Setup()); }
inline RunResult runToolOn(const Bytes& contents) {
    const TempFile file(contents);
    return runTool({file.path});
}

}  // namespace test

#endif  // QUORVEL_TEST_SUPPORT_H
