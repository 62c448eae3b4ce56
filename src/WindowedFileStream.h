#ifndef QUORVEL_WINDOWED_FILE_STREAM_H
#define QUORVEL_WINDOWED_FILE_STREAM_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <new>
#include <streambuf>
#include <string>
#include <utility>
#include <vector>

#include "Platform.h"

// An allocator that leaves the bytes of a resized buffer as they are: the
// buffers below are filled by reads, so zeroing them first only costs time
// and memory that a run never uses.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    explicit UninitializedAllocator(const UninitializedAllocator<U>& /*other*/) noexcept {}
    template <typename U>
    void construct(U* place) noexcept {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* place, Arguments&&... arguments) {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};
using ByteBuffer = std::vector<char, UninitializedAllocator<char>>;

// A read-only stream buffer over the input, which is either a file, read at
// any position, or a stream (a pipe, a FIFO, a terminal...), read front to
// back.
//
// A file: the buffer holds one window of it and the offset of the window's
// first byte. Peeks, reads, tells and seeks that stay inside the window cost
// no I/O; a seek elsewhere only records the position, and the next read there
// refills the window. The element reader seeks back one byte after every
// unfamiliar header, so a plain file buffer, which throws its contents away
// on every seek, would cost a system call per byte scanned.
//
// A stream: positions count from the first byte read. The buffer holds the
// first `heldFront` bytes from the first 0x1A byte on, where the EBML data
// starts (the header, SeekHead, Info and Tracks of every real file lie
// there), and the last `heldBack` bytes read (what a peek or a return within
// the element just read needs). Text in front of the EBML data is not kept
// beyond the last bytes. A read at the frontier takes what the stream has at
// hand; a seek forward only records the position, and the bytes up to it are
// read, at the stream's pace, when something is read there. A position that
// is no longer held reads as the end, as does the end itself: a seek to the
// end stands there without reading on, and held positions can still be
// returned to.
class WindowedFileBuffer : public std::streambuf {
public:
    static constexpr std::size_t DEFAULT_WINDOW = 64 * 1024;
    // What the first read of a file takes: the header, SeekHead, Info and
    // Tracks of nearly every file lie in its first few KiB.
    static constexpr std::size_t FIRST_READ = 8 * 1024;
    static constexpr std::size_t HELD_FRONT = 16 * 1024 * 1024;
    static constexpr std::size_t HELD_BACK = 8 * 1024 * 1024;

    explicit WindowedFileBuffer(std::size_t windowSize = DEFAULT_WINDOW, std::size_t heldFront = HELD_FRONT,
                                std::size_t heldBack = HELD_BACK);
    WindowedFileBuffer(const WindowedFileBuffer&) = delete;
    WindowedFileBuffer& operator=(const WindowedFileBuffer&) = delete;
    ~WindowedFileBuffer() override;

    // Opens what `argument` names for reading ("-": standard input); false
    // when it cannot be read.
    bool open(const std::string& argument);
    bool is_open() const { return input.descriptor >= 0; }
    // False when the input was not open or its close failed.
    bool close();

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char_type* destination, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
    std::streamsize showmanyc() override;

private:
    std::uint64_t position() const;
    // The position just past the last byte, as far as it is known.
    std::uint64_t end() const;
    // Moves the read position to `target`; inside the get area only the get
    // pointer moves, elsewhere the held bytes stay for a later seek back.
    void moveTo(std::uint64_t target);
    // Makes the get area the bytes from `from` to `to`, read from `at` on;
    // `base` holds the byte at position `baseAt`.
    void show(char* base, std::uint64_t baseAt, std::uint64_t from, std::uint64_t at, std::uint64_t to);
    void forget();

    int_type underflowFile(std::uint64_t at);
    // Reads up to `count` bytes at `offset` straight from the file.
    std::size_t readAt(std::uint64_t offset, char* destination, std::size_t count);

    int_type underflowStream(std::uint64_t at);
    // Reads once at the frontier, what the stream has; false at its end.
    bool pull();
    // Keeps what falls into the front of the EBML data of `count` bytes just
    // read at the frontier.
    void keepFront(const char* bytes, std::size_t count);

    Platform::Input input;
    std::size_t windowSize;
    std::size_t heldFront;
    std::size_t heldBack;
    // A file's window, or the last bytes of a stream: the byte at position p
    // is at p % window.size(), which grows to `heldBack`.
    ByteBuffer window;
    std::uint64_t areaStart = 0;  // the position of eback()
    bool detached = false;        // the position lies outside the get area
    std::uint64_t detachedPosition = 0;

    std::uint64_t fileSize = 0;
    std::uint64_t windowStart = 0;          // file offset of window[0]
    std::size_t windowFill = 0;             // valid bytes in the window
    std::size_t reach = 0;                  // what the next read of the file asks for
    std::uint64_t descriptorAt = 0;         // where the next read of the descriptor starts

    ByteBuffer front;                       // from the first 0x1A byte on
    std::uint64_t frontStart = 0;
    bool frontFound = false;
    std::uint64_t received = 0;             // bytes read from the stream
    bool ended = false;                     // the stream has ended
};

// The input stream: std::istream over a WindowedFileBuffer, with the
// open / is_open / close vocabulary of a file stream.
class WindowedFileStream : public std::istream {
public:
    explicit WindowedFileStream(std::size_t windowSize = WindowedFileBuffer::DEFAULT_WINDOW,
                                std::size_t heldFront = WindowedFileBuffer::HELD_FRONT,
                                std::size_t heldBack = WindowedFileBuffer::HELD_BACK);

    // Opens read-only ("-": standard input). On failure the failbit is set;
    // on success the state flags are cleared.
    void open(const std::string& argument);
    bool is_open() const { return buffer.is_open(); }
    // Sets the failbit when the close fails.
    void close();

private:
    WindowedFileBuffer buffer;
};

#endif  // QUORVEL_WINDOWED_FILE_STREAM_H
