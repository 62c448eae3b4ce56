#include "Quorvel.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "Platform.h"

Quorvel::Quorvel(const bool outputIsTerminal) : matroskaReader(inputFile) {
    matroskaReader.textForTerminal = outputIsTerminal;
}

Quorvel::~Quorvel() {
    if (inputFile.is_open()) {
        inputFile.close();
    }
}

bool Quorvel::OpenFile(std::string path) {  // NOLINT(performance-unnecessary-value-param)
    std::error_code error;
    const std::filesystem::path file = Platform::pathOf(path);
    if (path.empty() || !std::filesystem::is_regular_file(std::filesystem::status(file, error)) || error) {
        inputFile.setstate(std::ios_base::failbit);
        return false;
    }
    inputFile.open(file);
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
