// libFuzzer target: the whole inspection of `quorvel FILE` on the fuzzer's
// bytes, and of the same bytes through a pipe, which must list the same.

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <thread>

#include "Quorvel.h"
#include "WindowedFileStream.h"

namespace {

// Keeps everything written to it.
class KeepBuffer : public std::streambuf {
public:
    std::string kept;

protected:
    int_type overflow(const int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            kept += traits_type::to_char_type(c);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* bytes, const std::streamsize count) override {
        kept.append(bytes, static_cast<std::size_t>(count));
        return count;
    }
};

// What the inspection of `path` writes. The buffer never fails, so a bad
// stream state here comes from the inspection itself, and would turn into
// exit status 1 in the tool.
std::string inspect(const std::string& path, const bool terminal) {
    KeepBuffer output;
    std::streambuf* const previous = std::cout.rdbuf(&output);
    {
        Quorvel quorvel(terminal);
        if (quorvel.OpenFile(path)) {
            quorvel.Process();
        }
    }
    std::cout.rdbuf(previous);
    if (!std::cout.good()) {
        std::abort();
    }
    return output.kept;
}

void removeInput();

// The tool reads a named file, so every input goes through one file per
// process, rewritten for each run and removed at exit.
const std::string& inputPath() {
    static const std::string path = [] {
        const char* const folder = std::getenv("TMPDIR");
        return std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/quorvel-fuzz-" +
               std::to_string(getpid()) + ".mkv";
    }();
    // Registered once the path exists, so that it runs before the path is destroyed.
    static const bool removedAtExit = std::atexit(removeInput) == 0;
    static_cast<void>(removedAtExit);
    return path;
}

void removeInput() {
    std::remove(inputPath().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, const std::size_t size) {
    const std::string& path = inputPath();
    // Removed rather than truncated: rewriting a truncated file makes some
    // file systems flush it to disk on close.
    std::remove(path.c_str());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort();
    }

    // Half the inputs are written as for a terminal, so that the text escaping is fuzzed as well.
    const bool terminal = size > 0 && (data[size - 1] & 1) != 0;
    const std::string fromFile = inspect(path, terminal);
    if (size >= WindowedFileBuffer::HELD_FRONT) {
        return 0;  // a stream no longer holds all of it
    }

    // The same bytes through a pipe, written by a thread as the tool reads;
    // the tool may stop reading early, and the writer's writes then fail.
    static const bool pipeErrorsOnly = std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
    static_cast<void>(pipeErrorsOnly);
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::abort();
    }
    std::thread writer([data, size, end = ends[1]] {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = write(end, data + done, size - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        close(end);
    });
    const std::string fromStream = inspect("/dev/fd/" + std::to_string(ends[0]), terminal);
    close(ends[0]);
    writer.join();
    if (fromStream != fromFile) {
        std::fprintf(stderr, "a stream lists otherwise than the file:\n--- file\n%s\n--- stream\n%s\n",
                     fromFile.c_str(), fromStream.c_str());
        std::abort();
    }
    return 0;
}
