#include "ByteCursor.h"

#include <functional>

#include "TestSupport.h"
#include "WindowedFileStream.h"

namespace {

using namespace std::string_literals;

// Where the cursor stands, and the byte there (-1: the end).
std::pair<std::uint64_t, int> where(ByteCursor& c) {
    std::uint8_t next = 0;
    return {c.position(), c.peek(next) ? next : -1};
}

// Each row moves a cursor over `bytes` in a file read through a window of 1, 5 and 16 bytes (so that moves cross
// refills, leave the window and step back in front of it) and the default one, whose first read is shorter; then
// where it stands.
TEST(ByteCursor, MovesReadsAndRunsStopAtTheEndAndNeverWrap) {
    constexpr std::uint64_t ALL = ByteCursor::NO_LIMIT;
    constexpr std::size_t WINDOWS[] = {1, 5, 16, WindowedFileBuffer::DEFAULT_WINDOW};
    const test::Bytes digits = "0123456789abcdef", zeros(40000, '\0');
    test::Bytes counted(10000, '\0');
    for (std::size_t i = 0; i < counted.size(); ++i) counted[i] = static_cast<char>('A' + i % 26);
    const auto read = [](std::uint64_t count, bool result) {
        return [=](ByteCursor& c) { std::uint8_t bytes[16] = {}; EXPECT_EQ(c.read(bytes, count), result); };
    };
    const auto run = [](std::uint64_t most) { return [most](ByteCursor& c) { c.skipBytesBelow(0x10, most); }; };
    const struct { const char* name; test::Bytes bytes; std::function<void(ByteCursor&)> move; std::uint64_t at;
                   int next; } rows[] = {
        {"skip inside", digits, [](ByteCursor& c) { c.skip(3); }, 3, '3'},
        {"skip to the end", digits, [](ByteCursor& c) { c.skip(16); }, 16, -1},
        {"skip past the end", digits, [](ByteCursor& c) { c.skip(17); }, 16, -1},
        {"skip by the largest count", digits, [](ByteCursor& c) { c.seek(9); c.skip(ALL); }, 16, -1},
        {"seek and step back to the start", digits, [](ByteCursor& c) { c.seek(12); c.back(12); }, 0, '0'},
        {"a step back in front of the window", digits,
         [](ByteCursor& c) { std::uint8_t byte = 0; c.seek(12); c.peek(byte); c.back(2); }, 10, 'a'},
        {"seek beyond any offset", digits, [](ByteCursor& c) { c.seek(1ull << 63); }, 16, -1},
        {"a seek after the end lands", digits, [](ByteCursor& c) { c.seek(ALL); c.seek(2); }, 2, '2'},
        {"a header field", digits, read(2, true), 2, '2'}, {"a block", digits, read(11, true), 11, 'b'},
        {"a block from the last byte of a window", digits + digits,
         [](ByteCursor& c) { std::uint8_t b[9]; c.peek(b[0]); c.seek(15); c.read(b, 9); }, 24, '8'},
        {"a read that meets the end", digits.substr(0, 3), read(4, false), 3, -1},
        {"no low byte to pass", "A\0"s, run(ALL), 0, 'A'}, {"a short run", "\0\x05\x0F\x10"s, run(ALL), 3, 0x10},
        {"a run over blocks", zeros + "Z", run(ALL), 40000, 'Z'}, {"a run to the end", zeros, run(ALL), 40000, -1},
        {"a block of one byte after the short run", zeros.substr(0, 64) + "Z", run(ALL), 64, 'Z'},
        {"a run that ends in a word's last byte", zeros.substr(0, 101) + "\x01\x02\xF0", run(ALL), 103, 0xF0},
        {"a run cut short in the get area", zeros, run(10), 10, 0},
        {"a run cut short in a block", zeros, run(20000), 20000, 0},
        {"a step back across the end of the first read", counted,
         [](ByteCursor& c) { std::uint8_t byte = 0; c.peek(byte); c.seek(8200); c.peek(byte); c.back(20); }, 8180,
         'A' + 8180 % 26}};
    for (const auto& row : rows) {
        const test::TempFile file(row.bytes);
        for (const std::size_t window : WINDOWS) {
            WindowedFileBuffer windowed(window);
            ASSERT_TRUE(windowed.open(file.path));
            ByteCursor cursor(windowed);
            row.move(cursor);
            EXPECT_EQ(where(cursor), std::make_pair(row.at, row.next)) << row.name << ", window " << window;
        }
    }
}

// A run mostly needs only the front of a file: the first read takes that much, the next fills the window.
TEST(ByteCursor, TheFirstReadOfAFileTakesItsFrontOnly) {
    const test::TempFile file(test::Bytes(40000, 'x'));
    WindowedFileBuffer windowed;
    ASSERT_TRUE(windowed.open(file.path));
    ByteCursor cursor(windowed);
    std::uint8_t byte = 0;
    ASSERT_TRUE(cursor.peek(byte));
    EXPECT_EQ(windowed.in_avail(), static_cast<std::streamsize>(WindowedFileBuffer::FIRST_READ));
    cursor.skip(WindowedFileBuffer::FIRST_READ);
    ASSERT_TRUE(cursor.peek(byte));
    EXPECT_EQ(windowed.in_avail(), static_cast<std::streamsize>(40000 - WindowedFileBuffer::FIRST_READ));
}

// Through a pipe, holding 4 bytes from the first 0x1A byte on and the last 4 read (a buffer that starts at 2 and
// grows): each row reads at 12, which pulls the stream up to 16, then moves; then the position and the next byte.
TEST(ByteCursor, AStreamHoldsTheFrontOfTheEbmlDataAndItsLastBytes) {
    const auto streamed = [](const test::Bytes& bytes, const std::function<void(ByteCursor&)>& move) {
        int ends[2] = {-1, -1};
        EXPECT_EQ(pipe(ends), 0);
        EXPECT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(ends[1]);
        WindowedFileBuffer stream(2, 4, 4);
        EXPECT_TRUE(stream.open("/dev/fd/" + std::to_string(ends[0])));
        close(ends[0]);
        ByteCursor cursor(stream);
        move(cursor);
        return where(cursor);
    };
    const test::Bytes bytes = "ab\x1A" "cdefghijklmnop";  // the front: positions 2 to 5; the last bytes: 12 to 15
    const auto to = [](std::uint64_t at) { return [at](ByteCursor& c) { c.seek(at); }; };
    const struct { const char* name; std::function<void(ByteCursor&)> move; std::uint64_t at; int next; } rows[] = {
        {"in the front", to(2), 2, 0x1A}, {"among the last bytes", to(15), 15, 'o'},
        {"no longer held", to(7), 7, -1}, {"in front of the EBML data", to(0), 0, -1},
        {"at the frontier", to(16), 16, 'p'}, {"past the end", [](ByteCursor& c) { c.skip(9); }, 21, -1},
        // Reading on to the end would have dropped 12 from the last bytes.
        {"the end stands without reading on", [](ByteCursor& c) {
             std::uint8_t byte = 0;
             c.seek(ByteCursor::NO_LIMIT);
             EXPECT_FALSE(c.peek(byte));
             c.seek(12); }, 12, 'l'}};
    for (const auto& row : rows) {
        const auto pulled = [&row](ByteCursor& c) { std::uint8_t byte = 0; c.seek(12), c.peek(byte), row.move(c); };
        EXPECT_EQ(streamed(bytes, pulled), std::make_pair(row.at, row.next)) << row.name;
    }
    // A stream that ends just as its buffer grows: the bytes are still there to go back to.
    const auto ended = [](ByteCursor& c) {
        std::uint8_t byte = 0;
        c.peek(byte), c.skip(2);
        EXPECT_FALSE(c.peek(byte));
        c.seek(1);
    };
    EXPECT_EQ(streamed("\x1A\x45", ended), std::make_pair(std::uint64_t{1}, 0x45));
}

}  // namespace
