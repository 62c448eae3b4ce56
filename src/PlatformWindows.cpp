#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <shellapi.h>

#include <cstdio>
#include <memory>

namespace {

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

Platform::BinaryOutput::BinaryOutput() {
    _setmode(_fileno(stdout), _O_BINARY);
    if (outputIsTerminal()) {
        consoleCodePage = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
}

Platform::BinaryOutput::~BinaryOutput() {
    if (consoleCodePage != 0) {
        SetConsoleOutputCP(consoleCodePage);
    }
}
