#ifndef QUORVEL_BYTE_CURSOR_H
#define QUORVEL_BYTE_CURSOR_H

#include <cstddef>
#include <cstdint>
#include <limits>
#include <streambuf>
#include <utility>

// A read position over a stream buffer, with the vocabulary the element
// reader needs: peek, read, skip, position, seek, end and the bytes at hand.
// The buffer keeps no error state, so a read or skip that meets the end stops
// there and a seek always lands. The next byte comes from the buffer's get
// area without a virtual call whenever the buffer holds it.
//
// Counts come from the file and are untrusted: every check compares a count
// with what remains, never adds it to a position first.
class ByteCursor {
public:
    static constexpr std::uint64_t NO_LIMIT = std::numeric_limits<std::uint64_t>::max();

    explicit ByteCursor(std::streambuf& source) : buffer(source) {}

    // The next byte, left unread; false at the end.
    bool peek(std::uint8_t& byte) {
        const auto next = buffer.sgetc();
        if (traits::eq_int_type(next, traits::eof())) {
            return false;
        }
        byte = static_cast<std::uint8_t>(traits::to_char_type(next));
        return true;
    }
    // Consumes one byte; nothing at the end.
    void skipByte() { buffer.sbumpc(); }
    // Reads `count` bytes into `destination`. False when the end comes first;
    // the bytes that were there have then been read.
    bool read(std::uint8_t* destination, std::uint64_t count);
    // Reads up to `count` bytes into `destination`, fewer only at the end;
    // returns how many were read.
    std::size_t readUpTo(char* destination, std::size_t count);
    // Moves `count` bytes on, or to the end when fewer remain.
    void skip(std::uint64_t count);
    // Moves `count` bytes back; `count` is at most the position.
    void back(std::uint64_t count);
    // The bytes the buffer holds from the position on, without copying them:
    // at least one unless the end has come (the buffer is refilled once when
    // it holds none). Valid until the cursor next moves or reads.
    std::pair<const char*, std::size_t> held();
    // Consumes `count` of the bytes `held` showed.
    void consume(std::size_t count);
    // Passes over the run of bytes below `ceiling` (a power of two) that
    // starts at the position, at most `maxCount` of them, and stops in front
    // of the first byte at or above it (or at the end).
    void skipBytesBelow(std::uint8_t ceiling, std::uint64_t maxCount);

    std::uint64_t position();
    // A target past the end, or beyond what the buffer's offsets can hold,
    // reads as the end.
    void seek(std::uint64_t target);
    // The position just past the last byte.
    std::uint64_t end();
    // Bytes known to follow the position without asking the end: those the
    // buffer holds, or what it knows of its source; 0 when it cannot tell.
    std::uint64_t atHand();
    // Bytes between the position and the end; 0 at or past the end.
    std::uint64_t remaining();

private:
    using traits = std::streambuf::traits_type;

    // The end, asked from the position `here`, where the cursor is left.
    std::uint64_t endFrom(std::uint64_t here);

    std::streambuf& buffer;
};

#endif  // QUORVEL_BYTE_CURSOR_H
