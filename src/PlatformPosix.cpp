#include "Platform.h"

#include <unistd.h>

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

// Output is binary here, and terminals take what they are given. The
// destructor is not defaulted: the class is the same on every system, and
// Windows' gives something back.
Platform::BinaryOutput::BinaryOutput() = default;
Platform::BinaryOutput::~BinaryOutput() {}
