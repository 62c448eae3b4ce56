#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "MatroskaReader.h"
#include "TestSupport.h"
#include "WindowedFileStream.h"

using namespace Ebml;
using namespace Matroska;
using namespace std::string_literals;
using QuorvelGlobals::PEEK, QuorvelGlobals::READ, test::Bytes, test::element, test::master, test::unknownSizeMaster;

namespace {

constexpr std::uint32_t TRACK_ENTRY = 0xAE, TRACK_NUMBER = 0xD7, CODEC_PRIVATE = 0x63A2;
const Bytes trackNumber1 = element(TRACK_NUMBER, "\x01"), voidElement = element(VOID_ELEMENT, "\0"s),
            crc = element(0xBF, "\x12\x34\x56\x78"), webm = test::ebmlHeader("webm"),
            entry = master(TRACK_ENTRY, {trackNumber1}), pastEnd = "\x63\xA2\x85\x01\x02";

// A reader over `bytes` (grown with zero bytes to `size`) through a three-byte window, so headers cross refills.
struct Opened {
    Opened(const std::string& name, const Bytes& bytes, std::size_t size = 0)
        : trace(__FILE__, __LINE__, name), file(bytes) {
        MatroskaReader::create_matroska_dict();
        if (size > bytes.size()) std::filesystem::resize_file(file.path, size);
        in.open(file.path);
    }
    std::uint64_t at() { return static_cast<std::uint64_t>(in.tellg()); }
    const testing::ScopedTrace trace;
    const test::TempFile file;
    WindowedFileStream in{3};
    MatroskaReader reader{in};
};

TEST(EbmlReader, ProcessEbmlDecodesResynchronisesStepsOutAndLoadsWithinLimits) {
    constexpr std::uint64_t MAX = EbmlReader::MAX_LOADED_CONTENT, UNKNOWN = (1ull << 56) - 1;
    // op: 'r' reads, 'p' peeks, 's' reads with `skipContent`; then the position and the record (ID 0: reset).
    struct Row { const char* name; Bytes bytes; char op; std::uint64_t at; std::uint32_t id; std::uint64_t size;
                 bool data; };
    // An unknown ID (going on at q+5), the size byte 00 after a Track UID, Void, CRC-32, bytes that start no ID.
    const Bytes junk = "\x10\0\0\x01\x83\x73\xC5\0"s + voidElement + crc + "\0\x05\x0F"s + trackNumber1;
    // EBML headers stepped over: a known size is skipped, an unknown one ends at the next level-0 element.
    const auto header = [](const char* name, const Bytes& field, std::uint64_t size, std::uint64_t at) {
        return Row{name, test::id(HEADER) + field + webm + webm, 's', at, HEADER, size, false};
    };
    const Bytes unknownEntry = unknownSizeMaster(TRACK_ENTRY, {crc, voidElement, trackNumber1});
    const Bytes nested = unknownSizeMaster(TRACKS, {unknownSizeMaster(TRACK_ENTRY, {}), entry});
    const Row rows[] = {
        {"junk peeked", junk, 'p', 0, TRACK_NUMBER, 1, true},
        {"junk read", junk, 'r', junk.size(), TRACK_NUMBER, 1, true},
        {"empty content", "\xD7\x80", 'r', 2, TRACK_NUMBER, 0, true},
        {"unknown size of a non-master", "\xD7\xFF\xB0\x80", 's', 2, TRACK_NUMBER, 127, false},
        header("one byte", "\x9F", 31, 5 + 31), header("one byte, unknown", "\xFF", 0x7F, 5),
        header("two bytes, unknown", "\x7F\xFF", 0x3FFF, 6), header("three bytes", "\x3F\xFF\xFE", 0x1FFFFE, 39),
        header("four bytes, unknown", "\x1F\xFF\xFF\xFF", 0x0FFFFFFF, 8),
        header("eight bytes, unknown", test::unknownSize(8), UNKNOWN, 12),
        {"content past the end, read", pastEnd, 'r', pastEnd.size(), 0, 0, false},
        {"content past the end, peeked", pastEnd, 'p', 0, 0, 0, false},
        {"content past the end, skipped", pastEnd, 's', pastEnd.size(), CODEC_PRIVATE, 5, false},
        {"a CRC-32 past the end", "\xBF\x88\x01\x02" + trackNumber1, 'r', 7, 0, 0, false},
        // The files grown with zero bytes to the position given.
        {"over 64 MiB", "\x63\xA2" + test::size(MAX + 1, 4), 'r', MAX + 7, 0, 0, false},
        {"64 MiB", "\x63\xA2" + test::size(MAX, 4), 'r', MAX + 6, CODEC_PRIVATE, MAX, true},
        {"children of an unknown size end at a deeper element", unknownEntry + "\xB0\x80", 's', unknownEntry.size(),
         TRACK_ENTRY, UNKNOWN, false},
        {"nested unknown sizes end at missing content", nested + pastEnd, 's', nested.size(), TRACKS, UNKNOWN, false}};
    for (const Row& row : rows) {
        Opened o(row.name, row.bytes, row.at);
        EXPECT_EQ(o.reader.ProcessEbml(row.op == 's', row.op == 'p' ? PEEK : READ), row.id != 0);
        const EbmlElement& e = o.reader.element;
        EXPECT_EQ(std::tuple(o.at(), e.id, e.size, e.data != nullptr), std::tuple(row.at, row.id, row.size, row.data));
    }
}

}  // namespace
