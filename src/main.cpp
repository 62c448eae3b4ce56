#include <iostream>
#include <string>

#include "Quorvel.h"

int main(int argc, char* argv[]) {
    int status = 0;
    {
        Quorvel quorvel;
        if (argc != 2) {
            std::cout << "Please insert just one command line argument, indicating the file path." << std::endl;
            status = 1;
        } else if (!quorvel.OpenFile(std::string(argv[1]))) {
            std::cout << "Could not open file. Please check path and permissions." << std::endl;
            status = 1;
        } else {
            quorvel.Process();
        }
    }
    // The navigation messages are not flushed as they are written: flush here,
    // and report output that could not be written (a full disk, a closed pipe).
    std::cout.flush();
    if (!std::cout) {
        status = 1;
    }
    return status;
}
