#ifndef QUORVEL_PLATFORM_H
#define QUORVEL_PLATFORM_H

#include <cstdint>
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

    // From here on the process keeps only what it holds: it reads the input
    // and standard input it has open, writes to the descriptors it has, uses
    // memory that is never executable, and ends. It opens no file or socket,
    // starts no program, gains no privilege, signals or reaches no other
    // process, and the kernel holds it to that for the rest of its life. Where
    // a mechanism is missing (an old kernel, an emulator, another system), it
    // goes on with what there is, without a word. Nothing happens when the
    // build leaves it out or QUORVEL_NO_CONFINE is set (to anything but 0).
    static void confine();

#if defined(__linux__) && defined(__x86_64__)
    // One instruction of a classic BPF program, laid out as the kernel's
    // struct sock_filter.
    struct FilterInstruction {
        std::uint16_t code;
        std::uint8_t jumpIfTrue;
        std::uint8_t jumpIfFalse;
        std::uint32_t k;
    };
    // The system call filter `confine` installs in the process `self` (0:
    // one whose signals Landlock keeps inside), for running it on made-up
    // calls.
    static std::vector<FilterInstruction> systemCallFilter(int self);
#endif

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
