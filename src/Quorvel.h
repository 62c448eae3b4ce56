#ifndef QUORVEL_QUORVEL_H
#define QUORVEL_QUORVEL_H

#include <string>

#include "MatroskaReader.h"
#include "WindowedFileStream.h"

// The driver: owns the input file and the reader bound to it, and runs the
// stages of one inspection in order.
class Quorvel {
public:
    // `outputIsTerminal`: standard output is a terminal, and stored text is
    // to be written so that it cannot drive it.
    explicit Quorvel(bool outputIsTerminal = false);
    ~Quorvel();
    Quorvel(const Quorvel&) = delete;
    Quorvel& operator=(const Quorvel&) = delete;

    // Opens `path` read-only; "-" is standard input. A regular file or a
    // block device is read as a file, anything else (a pipe, a FIFO, a
    // terminal...) as a stream, front to back; a directory is not opened.
    // Returns whether the input is open.
    bool OpenFile(std::string path);
    // Inspects the opened file; everything it finds goes to standard output.
    void Process();

private:
    // Declared first: the reader keeps a reference to it and must go first.
    WindowedFileStream inputFile;
    MatroskaReader matroskaReader;
};

#endif  // QUORVEL_QUORVEL_H
