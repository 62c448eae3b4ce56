// Offsets past 2 GiB on 32-bit systems too: set before any system header.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // NOLINT(bugprone-reserved-identifier): the C library's own switch
#endif

#include "Platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <limits>

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
