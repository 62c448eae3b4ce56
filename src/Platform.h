#ifndef QUORVEL_PLATFORM_H
#define QUORVEL_PLATFORM_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <streambuf>
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

    // An input open for reading. A file (a regular file or a block device)
    // is read at any position; anything else (a pipe, a FIFO, a socket, a
    // character device, a regular file that reports no size) only front to
    // back, as a stream.
    struct Input {
        int descriptor = -1;
        bool file = false;
        std::uint64_t start = 0;  // where a file stood when it was handed over (standard input)
        std::uint64_t size = 0;   // a file's bytes from `start` on
        bool owned = false;       // opened here, and closed here
    };
    // Opens what `argument` names for reading: "-" is standard input, read
    // from where it stands. The kind is asked of the open descriptor, never
    // of the name, which may name something else by then. False, with
    // nothing left open, for what cannot be read: a missing path, a
    // directory, a closed standard input.
    static bool openInput(const std::string& argument, Input& input);
    // Reads what the input has at hand, up to `count` bytes, waiting only
    // while it has none. 0 at the end, and on a read error, which ends it too.
    static std::size_t readInput(const Input& input, char* destination, std::size_t count);
    // Moves a file's read position to `offset` bytes past its `start`.
    static bool seekInput(const Input& input, std::uint64_t offset);
    // Closes the input when it was opened here; false when that fails.
    static bool closeInput(Input& input);

    // Writes `count` bytes to standard output, all of them or fail.
    static bool writeOutput(const char* bytes, std::size_t count);

    // While it lives, standard output takes every byte as it is: no newline
    // becomes CR LF, and a console shows the text as UTF-8, as a terminal
    // elsewhere does; the console gets its own code page back at the end.
    // std::cout writes through it, in blocks, straight to the descriptor
    // (the C library's streams are not set up at all); a write that fails
    // ends the run at once with status 1, as it ends cat. Made before
    // anything is written.
    class BinaryOutput : public std::streambuf {
    public:
        BinaryOutput();
        ~BinaryOutput() override;
        BinaryOutput(const BinaryOutput&) = delete;
        BinaryOutput& operator=(const BinaryOutput&) = delete;

    protected:
        int_type overflow(int_type next) override {
            drain();
            if (!traits_type::eq_int_type(next, traits_type::eof())) {
                *pptr() = traits_type::to_char_type(next);
                pbump(1);
            }
            return traits_type::not_eof(next);
        }
        // Fills the space to its end before each write, so that a listing of
        // many short lines costs one write per full space; a piece at least
        // that large goes out directly once the space is empty.
        std::streamsize xsputn(const char* bytes, const std::streamsize count) override {
            std::streamsize done = 0;
            while (done < count) {
                if (pptr() == epptr()) {
                    drain();
                }
                const std::streamsize room = epptr() - pptr();
                const std::streamsize left = count - done;
                if (pptr() == pbase() && left >= room) {
                    if (!writeOutput(bytes + done, static_cast<std::size_t>(left))) {
                        failed();
                    }
                    break;
                }
                const std::streamsize piece = left < room ? left : room;
                std::memcpy(pptr(), bytes + done, static_cast<std::size_t>(piece));
                pbump(static_cast<int>(piece));
                done += piece;
            }
            return count;
        }
        int sync() override {
            drain();
            return 0;
        }

    private:
        void drain() {
            const auto count = static_cast<std::size_t>(pptr() - pbase());
            if (count > 0 && !writeOutput(pbase(), count)) {
                failed();
            }
            setp(space.data(), space.data() + space.size());
        }
        // Gives back what the constructor changed and ends the run.
        [[noreturn]] void failed();

        std::streambuf* previous = nullptr;
        std::array<char, 4096> space;
        [[maybe_unused]] unsigned int consoleCodePage = 0;  // Windows only; 0: nothing to give back
    };
};

#endif  // QUORVEL_PLATFORM_H
