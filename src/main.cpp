#include <iostream>
#include <string>
#include <vector>

#include "Platform.h"
#include "Quorvel.h"

int main(int argc, char* argv[]) {
    // Standard output is written through its buffer, in blocks: a listing of
    // many lines costs a few large writes.
    const Platform::BinaryOutput output;
    int status = 0;
    {
        Quorvel quorvel(Platform::outputIsTerminal());
        const std::vector<std::string> arguments = Platform::arguments(argc, argv);
        if (arguments.size() != 2) {
            std::cout << "Please insert just one command line argument, indicating the file path.\n";
            status = 1;
        } else if (!quorvel.OpenFile(arguments[1])) {
            std::cout << "Could not open file. Please check path and permissions.\n";
            status = 1;
        } else {
            // Input open, the kind of output known: nothing more is needed
            // from the system before the first byte is parsed.
            Platform::confine();
            quorvel.Process();
        }
    }
    // Nothing is flushed line by line: flush here, and report output that
    // could not be written (a full disk, say).
    std::cout.flush();
    if (!std::cout) {
        status = 1;
    }
    return status;
}
