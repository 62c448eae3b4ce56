#ifndef QUORVEL_BYTE_UTILITIES_H
#define QUORVEL_BYTE_UTILITIES_H

#include <cstdint>
#include <string>

// Stateless conversions of raw byte runs. A run is always a pointer and a
// count owned by the caller; only the two shifts change their input.
class ByteUtilities {
public:
    ByteUtilities() = delete;

    // The value of `length` bytes, most significant first unless `littleEndian`.
    // Defined for unsigned int, long, unsigned long, long long, unsigned long
    // long (so for std::int64_t and std::uint64_t everywhere), float and
    // double; long is only 32 bits wide on some systems. The bytes
    // fill the low-order end of T without sign extension; float and double take
    // them as their IEEE 754 bit pattern. A length of 0 (or a host of unknown
    // byte order) gives zero. A run longer than T gives its last sizeof(T) bytes
    // big-endian, its first sizeof(T) bytes little-endian; nothing outside the
    // run is read.
    template <typename T>
    static T bytesTo(const std::uint8_t* bytes, std::uint8_t length, bool littleEndian);

    // Same with the length equal to the size of T.
    template <typename T>
    static T bytesTo(const std::uint8_t* bytes, bool littleEndian);

    // Upper-case hex pairs joined by ':' ("1A:45:DF:A3"); empty for no bytes.
    static std::string byteRepresentation(std::uint64_t count, const std::uint8_t* bytes);

    // Stored text made safe for a terminal: every byte that is not part of a
    // printable character is written as \x and two upper-case hex digits.
    // Characters are well-formed UTF-8 (no overlong forms, no surrogates,
    // nothing above U+10FFFF); all are printable but U+0000 to U+001F (TAB
    // excepted) and U+007F to U+009F. An invalid sequence ends in front of the
    // first byte that cannot continue it, which is read afresh. Works piece by
    // piece: `carry` holds the start of a character cut by the end of the
    // previous piece and receives the one cut by the end of this piece, unless
    // `last` says that no piece follows.
    static std::string terminalText(const std::uint8_t* bytes, std::uint64_t count, std::string& carry, bool last);

    // Writes each byte as eight bits (bit 7 first) and a space, then a newline,
    // to standard output in one write, without a flush.
    static void showBits(const void* bytes, std::uint64_t count);

    // Shift the run, taken as one big-endian number, by `bits` positions in
    // place; bits shifted out are lost, zeros come in. A count or shift of 0 or
    // less changes nothing.
    static void shiftLeftBitsOnBytes(void* bytes, std::uint64_t count, std::int16_t bits);
    static void shiftRightBitsOnBytes(void* bytes, std::uint64_t count, std::int16_t bits);

    // 00 01 02 03 in storage order: read as a host integer it tells the byte order.
    static constexpr std::uint8_t o32_host_order[4] = {0x00, 0x01, 0x02, 0x03};
};

#endif  // QUORVEL_BYTE_UTILITIES_H
