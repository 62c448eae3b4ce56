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

    // While it lives, standard output takes every byte as it is: no newline
    // becomes CR LF, and a console shows the text as UTF-8, as a terminal
    // elsewhere does; the console gets its own code page back at the end.
    // Made before anything is written.
    class BinaryOutput {
    public:
        BinaryOutput();
        ~BinaryOutput();
        BinaryOutput(const BinaryOutput&) = delete;
        BinaryOutput& operator=(const BinaryOutput&) = delete;

    private:
        [[maybe_unused]] unsigned int consoleCodePage = 0;  // Windows only; 0: nothing to give back
    };
};

#endif  // QUORVEL_PLATFORM_H
