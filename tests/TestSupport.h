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
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace test {

using Bytes = std::string;  // raw bytes; std::string keeps zero bytes

// Big-endian `value` in `width` bytes; in the fewest that hold it when `width` is 0.
inline Bytes uint(std::uint64_t value, int width = 0) {
    if (width == 0) {
        width = 1;
        while (width < 8 && (value >> (8 * width)) != 0) ++width;
    }
    Bytes out;
    for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}
// An ID as stored: the marker bit is part of its value.
inline Bytes id(std::uint32_t value) { return uint(value); }
// A size field of `width` bytes (1 to 8) holding `value`.
inline Bytes size(std::uint64_t value, int width) {
    Bytes out = uint(value, width);
    out[0] = static_cast<char>(out[0] | (0x80 >> (width - 1)));
    return out;
}
// The all-ones "size not known" field of `width` bytes.
inline Bytes unknownSize(int width = 8) { return size((1ull << (7 * width)) - 1, width); }
// A whole element, its size field as narrow as the payload allows unless `width` is given.
inline Bytes element(std::uint32_t elementId, const Bytes& payload, int width = 0) {
    if (width == 0) {
        width = 1;
        while (payload.size() >= (1ull << (7 * width)) - 1) ++width;
    }
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

// Runs the built tool with `args`: its standard output, standard error and exit status. Standard output is a pipe
// or, with `terminal`, a pseudo-terminal in raw mode (no CR added to a newline); nothing when no pseudo-terminal can
// be opened. A run that is not over within `seconds` (one that blocks on a FIFO, say) is killed: status -1.
inline std::optional<RunResult> runTool(const std::vector<std::string>& args, bool terminal, int seconds = 60) {
    int reader = -1, writer = -1;
    int ends[2] = {-1, -1};
    if (terminal ? openpty(&reader, &writer, nullptr, nullptr, nullptr) != 0 : pipe(ends) != 0) return std::nullopt;
    if (!terminal) std::tie(reader, writer) = std::pair(ends[0], ends[1]);
    termios mode{};
    if (terminal && tcgetattr(writer, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(writer, TCSANOW, &mode);
    }
    const TempFile errors("");
    std::vector<char*> argv{const_cast<char*>(QUORVEL_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(writer, STDOUT_FILENO);
        dup2(open(errors.path.c_str(), O_WRONLY), STDERR_FILENO);
        close(reader);
        execv(QUORVEL_BINARY, argv.data());
        _exit(127);
    }
    close(writer);
    RunResult result;
    pollfd ready{reader, POLLIN, 0};
    char chunk[4096];
    ssize_t n = 0;
    while (poll(&ready, 1, seconds * 1000) > 0 && (n = read(reader, chunk, sizeof chunk)) > 0) {
        result.out.append(chunk, static_cast<std::size_t>(n));
    }
    close(reader);
    kill(child, SIGKILL);  // nothing to end after a normal exit
    int raw = 0;
    waitpid(child, &raw, 0);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.err = readFile(errors.path);
    return result;
}
inline RunResult runTool(const std::vector<std::string>& args) { return *runTool(args, false); }

inline RunResult runToolOn(const Bytes& contents) {
    const TempFile file(contents);
    return runTool({file.path});
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
