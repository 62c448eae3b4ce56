#include "Quorvel.h"

#include <iostream>

Quorvel::Quorvel(const bool outputIsTerminal) : matroskaReader(inputFile) {
    matroskaReader.textForTerminal = outputIsTerminal;
}

Quorvel::~Quorvel() {
    if (inputFile.is_open()) {
        inputFile.close();
    }
}

// The path is taken by value, as the driver's interface has always had it.
// cppcheck-suppress passedByValue
bool Quorvel::OpenFile(std::string path) {  // NOLINT(performance-unnecessary-value-param)
    inputFile.open(path);
    return inputFile.is_open();
}

void Quorvel::Process() {
    MatroskaReader::create_matroska_dict();

    matroskaReader.readInitialAsciiText("Initial ASCII Text: ");
    std::cout << '\n';

    const int fileType = matroskaReader.discoverFileType();
    switch (fileType) {
        case 3:
            std::cout << "Matroska File\n";
            break;
        case 4:
            std::cout << "WEBM\n";
            break;
        case 2:
            std::cout << "Unknown EBML File\n";
            break;
        default:
            std::cout << "Not an EBML File\n";
            break;
    }
    if (fileType == 3 || fileType == 4) {
        matroskaReader.goToTracks();
    }
}
