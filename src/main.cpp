#include <unistd.h>

#include <iostream>
#include <string>

#include "Quorvel.h"

int main(int argc, char* argv[]) {
    // Standard output is written through the stream's own buffer and flushed
    // once, at the end: a listing of many lines costs a few large writes.
    std::ios::sync_with_stdio(false);
    int status = 0;
    {
        Quorvel quorvel(isatty(STDOUT_FILENO) == 1);
        if (argc != 2) {
            std::cout << "Please insert just one command line argument, indicating the file path.\n";
            status = 1;
        } else if (!quorvel.OpenFile(std::string(argv[1]))) {
            std::cout << "Could not open file. Please check path and permissions.\n";
            status = 1;
        } else {
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
