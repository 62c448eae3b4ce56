#include "ByteCursor.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "TestSupport.h"
#include "WindowedFileStream.h"

namespace {

using namespace std::string_literals;

constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();

// Runs `check` on a cursor over `bytes` held in memory, and over the same bytes in a file read through a window of
// five bytes, so that moves cross refills and leave the window.
void onMemoryAndFile(const test::Bytes& bytes, const std::function<void(ByteCursor&)>& check) {
    std::stringbuf memory(bytes, std::ios_base::in);
    ByteCursor fromMemory(memory);
    {
        SCOPED_TRACE("from memory");
        check(fromMemory);
    }
    const test::TempFile file(bytes);
    WindowedFileBuffer windowed(5);
    ASSERT_TRUE(windowed.open(file.path));
    ByteCursor fromFile(windowed);
    SCOPED_TRACE("from a file");
    check(fromFile);
}

// The position and the next byte (-1 at the end) after a move.
std::pair<std::uint64_t, int> where(ByteCursor& cursor) {
    std::uint8_t byte = 0;
    return {cursor.position(), cursor.peek(byte) ? byte : -1};
}

TEST(ByteCursor, MovesStopAtTheEndAndNeverWrap) {
    const test::Bytes bytes = "0123456789abcdef";
    struct Row { const char* name; std::function<void(ByteCursor&)> move; std::uint64_t at; int next; };
    const Row rows[] = {
        {"skip inside", [](ByteCursor& c) { c.skip(3); }, 3, '3'},
        {"skip to the last byte", [](ByteCursor& c) { c.skip(15); }, 15, 'f'},
        {"skip to the end", [](ByteCursor& c) { c.skip(16); }, 16, -1},
        {"skip past the end", [](ByteCursor& c) { c.skip(17); }, 16, -1},
        {"skip by the largest count", [](ByteCursor& c) { c.seek(9); c.skip(MAX); }, 16, -1},
        {"seek and step back", [](ByteCursor& c) { c.seek(12); c.back(5); }, 7, '7'},
        {"seek past the end", [](ByteCursor& c) { c.seek(1000); c.seek(1ull << 63); }, 16, -1},
        {"a seek after the end lands", [](ByteCursor& c) { c.seek(MAX); c.seek(2); }, 2, '2'},
        {"a byte consumed", [](ByteCursor& c) { c.skipByte(); }, 1, '1'},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        onMemoryAndFile(bytes, [&row](ByteCursor& cursor) {
            row.move(cursor);
            EXPECT_EQ(where(cursor), std::make_pair(row.at, row.next));
        });
    }
}

TEST(ByteCursor, ReadsAndWhatRemains) {
    onMemoryAndFile("0123456789abcdef", [](ByteCursor& cursor) {
        std::string got(16, '-');
        cursor.seek(3);
        EXPECT_EQ(std::make_tuple(cursor.end(), cursor.remaining(), cursor.position()), std::make_tuple(16, 13, 3));
        EXPECT_LE(cursor.atHand(), cursor.remaining());
        EXPECT_TRUE(cursor.read(reinterpret_cast<std::uint8_t*>(got.data()), 2));  // a header field
        EXPECT_TRUE(cursor.read(reinterpret_cast<std::uint8_t*>(got.data() + 2), 9));  // a block read
        EXPECT_EQ(got.substr(0, 11), "3456789abcd");
        EXPECT_FALSE(cursor.read(reinterpret_cast<std::uint8_t*>(got.data()), 4));  // three bytes are left
        EXPECT_EQ(where(cursor), std::make_pair(std::uint64_t{16}, -1));
        EXPECT_EQ(cursor.remaining(), 0U);
        cursor.seek(10);
        EXPECT_EQ(cursor.readUpTo(got.data(), got.size()), 6U);
        EXPECT_EQ(got.substr(0, 6), "abcdef");
    });
}

// A run of bytes below the ceiling is passed whole, in the get area or read ahead in blocks, and never beyond the
// count it is allowed.
TEST(ByteCursor, SkipsRunsOfLowBytes) {
    const test::Bytes zeros(40000, '\0');
    struct Row { const char* name; test::Bytes bytes; std::uint64_t maxCount; std::uint64_t at; int next; };
    const Row rows[] = {
        {"nothing to pass", "A\0"s, MAX, 0, 'A'},
        {"a short mixed run", "\0\x05\x0F\x10"s, MAX, 3, 0x10},
        {"a run longer than a block", zeros + "Z", MAX, 40000, 'Z'},
        {"a run that ends in the middle of a word", zeros.substr(0, 100) + "\x01\x02\xF0", MAX, 102, 0xF0},
        {"a run to the end", zeros, MAX, 40000, -1},
        {"stopped by the count in the get area", zeros, 10, 10, 0},
        {"stopped by the count in a block", zeros, 20000, 20000, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        onMemoryAndFile(row.bytes, [&row](ByteCursor& cursor) {
            cursor.skipBytesBelow(0x10, row.maxCount);
            EXPECT_EQ(where(cursor), std::make_pair(row.at, row.next));
        });
    }
}

}  // namespace
