#include "ByteUtilities.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> runOf(const std::string& s) { return {s.begin(), s.end()}; }  // exact: ASan sees over-reads

template <typename T>  // the whole run converted, its length passed explicitly
T to(const std::string& s, bool little = false) { return ByteUtilities::bytesTo<T>(runOf(s).data(), s.size(), little); }

// Lengths 0 to 10, big-endian and little-endian: a longer run than the result keeps its least significant bytes.
TEST(ByteUtilities, Conversions) {
    const std::pair<std::uint64_t, std::uint64_t> rows[] = {{0, 0}, {0x01, 0x01}, {0x0102, 0x0201},
        {0x010203, 0x030201}, {0x01020304, 0x04030201}, {0x0102030405, 0x0504030201}, {0x010203040506, 0x060504030201},
        {0x01020304050607, 0x07060504030201}, {0x0102030405060708, 0x0807060504030201},
        {0x0203040506070809, 0x0807060504030201}, {0x030405060708090A, 0x0807060504030201}};
    for (std::size_t length = 0; length < std::size(rows); ++length) {
        const std::string run = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A"s.substr(0, length);
        EXPECT_EQ(std::make_pair(to<unsigned long>(run), to<unsigned long>(run, true)), rows[length]) << length;
    }
    EXPECT_EQ(to<unsigned int>("\x01\x02\x03\x04\x05\x06"), 0x03040506U);  // the same for a narrower result
    EXPECT_EQ(ByteUtilities::bytesTo<unsigned int>(runOf("\x1A\x45\xDF\xA3").data(), true), 0xA3DF451AU);
    EXPECT_EQ(to<long>("\xFF\xFE"), 65534);  // no sign extension below 8 bytes
    EXPECT_EQ(to<float>("\x3F\x80\x00\x00"s), 1.0F);  // floating point takes the bytes as its bit pattern
    EXPECT_EQ(to<double>("\x40\x09\x21\xFB\x54\x44\x2D\x18"), 3.141592653589793);
    EXPECT_EQ(to<float>("\x3F\x80"), 0x3F80p-149F);  // a short run: the low end of the pattern
    EXPECT_EQ(to<double>("\x07\x40\x09\x21\xFB\x54\x44\x2D\x18"), 3.141592653589793);  // a long run: its last bytes
}

TEST(ByteUtilities, TextAndShifts) {
    const test::CoutCapture capture;
    ByteUtilities::showBits(runOf("\0\xA5\x1A"s).data(), 3);
    EXPECT_EQ(capture.text(), "00000000 10100101 00011010 \n");
    EXPECT_EQ(ByteUtilities::byteRepresentation(3, runOf("\0\xA5\x1A"s).data()), "00:A5:1A");
    EXPECT_EQ(ByteUtilities::byteRepresentation(0, nullptr), "");
    const std::tuple<std::string, std::int16_t, std::string, std::string> shifts[] = {  // run, bits, left, right
        {"\x01\x80", 1, "\x03\x00"s, "\x00\xC0"s}, {"\x12\x34", 4, "\x23\x40", "\x01\x23"}, {"\x12", 0, "\x12", "\x12"},
        {"\x80\x00\x00\x01"s, 9, "\x00\x00\x02\x00"s, "\x00\x40\x00\x00"s}, {"\x12", -3, "\x12", "\x12"},
        {"\x12\x34", 16, "\0\0"s, "\0\0"s}, {"", 3, "", ""}};
    for (const auto& [bytes, bits, left, right] : shifts) {
        auto shiftedLeft = runOf(bytes), shiftedRight = shiftedLeft;
        ByteUtilities::shiftLeftBitsOnBytes(shiftedLeft.data(), shiftedLeft.size(), bits);
        ByteUtilities::shiftRightBitsOnBytes(shiftedRight.data(), shiftedRight.size(), bits);
        EXPECT_EQ(std::make_pair(shiftedLeft, shiftedRight), std::make_pair(runOf(left), runOf(right))) << bits;
    }
}

}  // namespace
