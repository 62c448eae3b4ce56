#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace {

// One call moves at most this much; larger counts are split.
constexpr std::size_t MOST_AT_ONCE = 1 << 30;

struct LocalFreeDeleter {
    void operator()(LPWSTR* block) const { LocalFree(block); }
};

// The UTF-8 form of a wide string from the system.
std::string utf8Of(const wchar_t* wide) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(bytes - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
    return text;
}

}  // namespace

// `argv` holds the arguments in the ANSI code page, where a name in another
// script has already lost its characters: take them from the wide command
// line instead.
std::vector<std::string> Platform::arguments(const int argc, char* argv[]) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> wide(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!wide || count != argc) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(utf8Of(wide.get()[i]));
    }
    return arguments;
}

std::filesystem::path Platform::pathOf(const std::string& argument) {
    return std::filesystem::u8path(argument);
}

// A console is Windows' terminal; isatty() would also say yes for NUL.
bool Platform::outputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

// Wine accepts job objects and process mitigation policies but enforces
// none of them, so nothing could show them working: no confinement here.
void Platform::confine() {}

// "-" is standard input, switched to binary mode: no CR LF is taken apart
// and no Ctrl-Z ends it.
bool Platform::openInput(const std::string& argument, Input& input) {
    input = Input();
    const bool standardInput = argument == "-";
    int descriptor = -1;
    if (standardInput) {
        descriptor = _fileno(stdin);
        if (descriptor < 0 || _setmode(descriptor, _O_BINARY) < 0) {
            return false;
        }
    } else {
        descriptor = _wopen(pathOf(argument).c_str(), _O_RDONLY | _O_BINARY);
        if (descriptor < 0) {
            return false;
        }
    }
    struct _stat64 status {};
    if (_fstat64(descriptor, &status) != 0 || (status.st_mode & _S_IFMT) == _S_IFDIR) {
        if (!standardInput) {
            _close(descriptor);
        }
        return false;
    }
    input.descriptor = descriptor;
    input.owned = !standardInput;
    if ((status.st_mode & _S_IFMT) == _S_IFREG && status.st_size > 0) {
        const __int64 start = standardInput ? _lseeki64(descriptor, 0, SEEK_CUR) : 0;
        if (start >= 0) {
            input.file = true;
            input.start = static_cast<std::uint64_t>(start);
            input.size = status.st_size > start ? static_cast<std::uint64_t>(status.st_size - start) : 0;
        }
    }
    return true;
}

std::size_t Platform::readInput(const Input& input, char* destination, const std::size_t count) {
    const int got = _read(input.descriptor, destination,
                          static_cast<unsigned int>(count < MOST_AT_ONCE ? count : MOST_AT_ONCE));
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool Platform::seekInput(const Input& input, const std::uint64_t offset) {
    const std::uint64_t target = input.start + offset;
    if (target < offset || target > static_cast<std::uint64_t>(LLONG_MAX)) {
        return false;
    }
    return _lseeki64(input.descriptor, static_cast<__int64>(target), SEEK_SET) >= 0;
}

bool Platform::closeInput(Input& input) {
    const bool closed = !input.owned || _close(input.descriptor) == 0;
    input = Input();
    return closed;
}

bool Platform::writeOutput(const char* bytes, std::size_t count) {
    while (count > 0) {
        const int written =
            _write(_fileno(stdout), bytes, static_cast<unsigned int>(count < MOST_AT_ONCE ? count : MOST_AT_ONCE));
        if (written <= 0) {
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

Platform::BinaryOutput::BinaryOutput() : space() {
    _setmode(_fileno(stdout), _O_BINARY);
    if (outputIsTerminal()) {
        consoleCodePage = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
    setp(space.data(), space.data() + space.size());
    previous = std::cout.rdbuf(this);
}

Platform::BinaryOutput::~BinaryOutput() {
    drain();
    std::cout.rdbuf(previous);
    if (consoleCodePage != 0) {
        SetConsoleOutputCP(consoleCodePage);
    }
}

void Platform::BinaryOutput::failed() {
    if (consoleCodePage != 0) {
        SetConsoleOutputCP(consoleCodePage);
    }
    std::_Exit(1);
}
