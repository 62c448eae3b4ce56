#include "ByteUtilities.h"

#include "TestSupport.h"

namespace {

using namespace std::string_literals;

std::vector<std::uint8_t> runOf(const std::string& s) { return {s.begin(), s.end()}; }  // exact: ASan sees over-reads

template <typename T>  // the whole run converted, most significant byte first
T to(const std::string& s) { return ByteUtilities::bytesTo<T>(runOf(s).data(), s.size(), false); }

// Runs of 0 to 10 bytes: a longer run than the result keeps its least significant bytes. The shifts move a run taken
// as one big-endian number.
TEST(ByteUtilities, ConversionsAndShifts) {
    const std::uint64_t values[] = {0, 0x01, 0x0102, 0x010203, 0x01020304, 0x0102030405, 0x010203040506,
        0x01020304050607, 0x0102030405060708, 0x0203040506070809, 0x030405060708090A};
    for (std::size_t length = 0; length < std::size(values); ++length) {
        EXPECT_EQ(to<std::uint64_t>("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A"s.substr(0, length)), values[length]);
    }
    EXPECT_EQ(to<unsigned int>("\x01\x02\x03\x04\x05\x06"), 0x03040506U);  // the same for a narrower result
    EXPECT_EQ(to<std::int64_t>("\xFF\xFE"), 65534);  // no sign extension below 8 bytes
    EXPECT_EQ(to<float>("\x3F\x80\x00\x00"s), 1.0F);  // floating point takes the bytes as its bit pattern
    EXPECT_EQ(to<double>("\x40\x09\x21\xFB\x54\x44\x2D\x18"), 3.141592653589793);
    EXPECT_EQ(to<float>("\x3F\x80"), 0x3F80p-149F);  // a short run: the low end of the pattern
    EXPECT_EQ(to<double>("\x07\x40\x09\x21\xFB\x54\x44\x2D\x18"), 3.141592653589793);  // a long run: its last bytes
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
    testing::internal::CaptureStdout();  // the bits of each byte, most significant first
    ByteUtilities::showBits("\x01\x80", 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "00000001 10000000 \n");
}

// Text that could drive a terminal comes out escaped, however the text is cut into pieces: every row is cut in two
// at every byte (whole at the first), and fed one byte at a time.
TEST(ByteUtilities, TerminalText) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain text, a TAB\t and a \\ stay", "plain text, a TAB\t and a \\ stay"},
        {"A\x1B[31mRED\x07" "B", "A\\x1B[31mRED\\x07B"}, {"\x1B]0;title\x07", "\\x1B]0;title\\x07"},
        {"line\nfeed\r\x1F\x7F", "line\\x0Afeed\\x0D\\x1F\\x7F"},
        {"\xC2\x85\xC2\x9F\xC2\xA0", "\\xC2\\x85\\xC2\\x9F\xC2\xA0"},  // C1 controls, then a no-break space
        {"日本語 € \xE2\x80\xA8\xE2\x80\xAE 😀", "日本語 € \xE2\x80\xA8\xE2\x80\xAE 😀"},  // U+2028, a bidi mark
        {"\xE0\xA0\x80\xEF\xBF\xBD", "\xE0\xA0\x80\xEF\xBF\xBD"},  // U+0800, U+FFFD
        {"\xE2\x82\xE2\x82\xAC", "\\xE2\\x82€"},  // the byte that cannot continue a sequence starts again
        {"\xC0\xAF\xE0\x9F\xBF\xF0\x8F\xBF\xBF", "\\xC0\\xAF\\xE0\\x9F\\xBF\\xF0\\x8F\\xBF\\xBF"},  // overlong forms
        {"\xED\xA0\x80\xED\x9F\xBF", "\\xED\\xA0\\x80\xED\x9F\xBF"},  // a surrogate, then U+D7FF
        {"\xF4\x8F\xBF\xBF\xF4\x90\x80\x80", "\xF4\x8F\xBF\xBF\\xF4\\x90\\x80\\x80"},  // U+10FFFF, then one above
        {"\xF5\x80\x80\x80 \x80 lone, cut \xF0\x9F\x98", "\\xF5\\x80\\x80\\x80 \\x80 lone, cut \\xF0\\x9F\\x98"},
        {"", ""}};
    for (const auto& [text, shown] : rows) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
        std::string carry, byteByByte;
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {  // at 0: the text whole
            std::string pieces = ByteUtilities::terminalText(bytes, cut, carry, false);
            pieces += ByteUtilities::terminalText(bytes + cut, text.size() - cut, carry, true);
            EXPECT_EQ(std::make_pair(pieces, carry), std::make_pair(shown, std::string())) << text << " cut at " << cut;
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            byteByByte += ByteUtilities::terminalText(bytes + i, 1, carry, i + 1 == text.size());
        }
        EXPECT_EQ(byteByByte, shown) << text << " byte by byte";
    }
}

}  // namespace
