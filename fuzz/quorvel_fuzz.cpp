// libFuzzer target: the whole inspection of `quorvel FILE` on the fuzzer's
// bytes, with standard output thrown away.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>

#include "Quorvel.h"

namespace {

// Accepts and drops everything written to it.
class DiscardBuffer : public std::streambuf {
protected:
    int_type overflow(const int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, const std::streamsize count) override { return count; }
};

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

    DiscardBuffer discard;
    std::streambuf* const previous = std::cout.rdbuf(&discard);
    {
        // Half the inputs are written as for a terminal, so that the text escaping is fuzzed as well.
        Quorvel quorvel(size > 0 && (data[size - 1] & 1) != 0);
        if (quorvel.OpenFile(path)) {
            quorvel.Process();
        }
    }
    std::cout.rdbuf(previous);
    // The discarding buffer never fails, so a bad state here comes from the
    // inspection itself, and would turn into exit status 1 in the tool.
    if (!std::cout.good()) {
        std::abort();
    }
    return 0;
}
