#ifndef QUORVEL_PLATFORM_H
#define QUORVEL_PLATFORM_H

#include <filesystem>
#include <string>
#include <vector>

// The few things the standard library leaves to each system: what the
// command line holds, how a path is named, whether standard output is a
// terminal and how it takes bytes. Each system has one source file of its
// own (PlatformPosix.cpp, PlatformWindows.cpp); nothing else in the tool
// calls the system directly.
class Platform {
public:
    Platform() = delete;

    // The program's arguments, the program name first, as UTF-8 where the
    // system keeps them in another form (Windows' wide command line) and
    // byte for byte elsewhere.
    static std::vector<std::string> arguments(int argc, char* argv[]);
    // The file an argument of `arguments` names.
    static std::filesystem::path pathOf(const std::string& argument);
    // Whether standard output is a terminal (on Windows, a console).
    static bool outputIsTerminal();
    // Makes standard output take every byte as it is: no newline becomes
    // CR LF. Call it before anything is written.
    static void useBinaryOutput();
};

#endif  // QUORVEL_PLATFORM_H
