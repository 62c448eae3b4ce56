#ifndef QUORVEL_WINDOWED_FILE_STREAM_H
#define QUORVEL_WINDOWED_FILE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <streambuf>
#include <vector>

// A read-only stream buffer that holds one window of the file and the file
// offset of the window's first byte. Peeks, reads, tells and seeks that stay
// inside the window cost no I/O; a seek elsewhere only records the position,
// and the next read there refills the window. The element reader seeks back
// one byte after every unfamiliar header, so a plain file buffer, which throws
// its contents away on every seek, would cost a system call per byte scanned.
class WindowedFileBuffer : public std::streambuf {
public:
    static constexpr std::size_t DEFAULT_WINDOW = 64 * 1024;

    explicit WindowedFileBuffer(std::size_t windowSize = DEFAULT_WINDOW);
    WindowedFileBuffer(const WindowedFileBuffer&) = delete;
    WindowedFileBuffer& operator=(const WindowedFileBuffer&) = delete;

    // Opens `path` read-only in binary mode; false when it cannot be read.
    bool open(const std::filesystem::path& path);
    bool is_open() const { return file.is_open(); }
    // False when the file was not open or its close failed.
    bool close();

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char_type* destination, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
    std::streamsize showmanyc() override;

private:
    std::uint64_t position() const;
    // Moves the read position to `target`; inside the window only the get
    // pointer moves, elsewhere the window stays for a later seek back.
    void moveTo(std::uint64_t target);
    // Reads up to `count` bytes at `offset` straight from the file.
    std::size_t readAt(std::uint64_t offset, char* destination, std::size_t count);

    std::filebuf file;
    std::vector<char> window;
    std::uint64_t fileSize = 0;
    std::uint64_t windowStart = 0;   // file offset of window[0]
    std::size_t windowFill = 0;      // valid bytes in the window
    bool detached = false;           // the position lies outside the window
    std::uint64_t detachedPosition = 0;
};

// The input file stream: std::istream over a WindowedFileBuffer, with the
// open / is_open / close vocabulary of a file stream.
class WindowedFileStream : public std::istream {
public:
    explicit WindowedFileStream(std::size_t windowSize = WindowedFileBuffer::DEFAULT_WINDOW);

    // Opens read-only in binary mode. On failure the failbit is set; on
    // success the state flags are cleared.
    void open(const std::filesystem::path& path);
    bool is_open() const { return buffer.is_open(); }
    // Sets the failbit when the close fails.
    void close();

private:
    WindowedFileBuffer buffer;
};

#endif  // QUORVEL_WINDOWED_FILE_STREAM_H
