#ifndef QUORVEL_TEST_SUPPORT_H
#define QUORVEL_TEST_SUPPORT_H

// A tiny EBML writer for building test files, and helpers to run the tool.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>

namespace test {

using Bytes = std::string;  // raw bytes; std::string keeps zero bytes

// Big-endian `value` in `width` bytes (the fewest that hold it when 0).
inline Bytes uint(std::uint64_t value, int width = 0) {
    while (width == 0 || (width < 8 && (value >> (8 * width)) != 0)) width = width == 0 ? 1 : width + 1;
    Bytes out(static_cast<std::size_t>(width), '\0');
    for (int i = width - 1; i >= 0; --i, value >>= 8) out[static_cast<std::size_t>(i)] = static_cast<char>(value);
    return out;
}
// An ID as stored: the marker bit is part of its value.
inline Bytes id(std::uint32_t value) { return uint(value); }
// A size field of `width` bytes (1 to 8) holding `value`.
inline Bytes size(std::uint64_t value, int width) {
    Bytes out = uint(value, width).substr(0, static_cast<std::size_t>(width));
    out[0] = static_cast<char>(out[0] | (0x80 >> (width - 1)));
    return out;
}
// The all-ones "size not known" field of `width` bytes.
inline Bytes unknownSize(int width = 8) { return size((1ull << (7 * width)) - 1, width); }
// A whole element, its size field as narrow as the payload allows unless given.
inline Bytes element(std::uint32_t elementId, const Bytes& payload, int width = 0) {
    while (width == 0 || payload.size() >= (1ull << (7 * width)) - 1) width = width == 0 ? 1 : width + 1;
    return id(elementId) + size(payload.size(), width) + payload;
}
inline Bytes master(std::uint32_t elementId, std::initializer_list<Bytes> children, int width = 0) {
    Bytes payload;
    for (const Bytes& child : children) payload += child;
    return element(elementId, payload, width);
}
// A master whose size says "not known"; its children simply follow.
inline Bytes unknownSizeMaster(std::uint32_t elementId, std::initializer_list<Bytes> children) {
    Bytes out = id(elementId) + unknownSize();
    for (const Bytes& child : children) out += child;
    return out;
}
inline Bytes ebmlHeader(const Bytes& docType) {
    return master(0x1A45DFA3, {element(0x4286, uint(1)), element(0x4282, docType)});
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

struct RunResult {
    std::string out, err;
    int status = -1;
};
inline bool operator==(const RunResult& a, const RunResult& b) {
    return std::tie(a.out, a.err, a.status) == std::tie(b.out, b.err, b.status);
}
inline std::ostream& operator<<(std::ostream& stream, const RunResult& run) {
    return stream << "status " << run.status << ", standard output " << testing::PrintToString(run.out)
                  << ", standard error " << testing::PrintToString(run.err);
}
// What a run that writes `out`, nothing on standard error, and ends with `status` gives.
inline RunResult ran(std::string out, int status = 0) { return RunResult{std::move(out), "", status}; }

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the built tool with `args` (already shell-quoted): its standard output, standard error and exit status.
// A run that blocks (on a FIFO, say) or takes longer than `seconds` is ended and reads as status 124.
inline RunResult runTool(const std::string& args, int seconds = 60) {
    const TempFile errors("");
    const std::string command = "timeout " + std::to_string(seconds) + " " + QUORVEL_BINARY + " " + args + " 2>'" +
                                errors.path + "'";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    while (pipe != nullptr) {
        const std::size_t n = fread(chunk, 1, sizeof chunk, pipe);
        if (n == 0) break;
        result.out.append(chunk, n);
    }
    const int raw = pipe != nullptr ? pclose(pipe) : -1;
    result.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.err = readFile(errors.path);
    return result;
}
// Runs the built tool on `path` with standard output a pseudo-terminal in raw mode (so that no CR is added to a
// newline); standard error goes to a file. False when no pseudo-terminal can be opened.
inline bool runToolOnTerminal(const std::string& path, RunResult& result) {
    int terminal = -1;
    int side = -1;
    if (openpty(&terminal, &side, nullptr, nullptr, nullptr) != 0) return false;
    termios mode{};
    tcgetattr(side, &mode);
    cfmakeraw(&mode);
    tcsetattr(side, TCSANOW, &mode);
    const TempFile errors("");
    const pid_t child = fork();
    if (child == 0) {
        const int errorFile = open(errors.path.c_str(), O_WRONLY);
        dup2(side, STDOUT_FILENO);
        dup2(errorFile, STDERR_FILENO);
        execl(QUORVEL_BINARY, QUORVEL_BINARY, path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(side);
    // Read until the tool has exited and the terminal reports the end (EIO); a run that hangs is ended after a minute.
    pollfd ready{terminal, POLLIN, 0};
    char chunk[4096];
    while (poll(&ready, 1, 60000) > 0) {
        const ssize_t n = read(terminal, chunk, sizeof chunk);
        if (n <= 0) break;
        result.out.append(chunk, static_cast<std::size_t>(n));
    }
    close(terminal);
    kill(child, SIGKILL);  // nothing left to end after a normal exit
    int raw = 0;
    waitpid(child, &raw, 0);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.err = readFile(errors.path);
    return true;
}

inline RunResult runToolOn(const Bytes& contents) {
    const TempFile file(contents);
    return runTool("'" + file.path + "'");
}

inline std::string dataPath(const std::string& name) { return std::string(QUORVEL_DATA_DIR) + "/" + name; }

// Captures what the code under test writes to std::cout.
class CoutCapture {
public:
    CoutCapture() : previous(std::cout.rdbuf(captured.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(previous); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};

}  // namespace test

#endif  // QUORVEL_TEST_SUPPORT_H
