#include "MatroskaReader.h"
#include "TestSupport.h"
#include "WindowedFileStream.h"

using namespace std::string_literals;
using QuorvelGlobals::PEEK, QuorvelGlobals::READ, test::Bytes, test::element, test::master, test::unknownSizeMaster;
using test::EBML_HEADER, test::TRACKS, test::TRACK_ENTRY, test::TRACK_NUMBER, test::CODEC_PRIVATE;

namespace {

// pastEnd: a Codec Private whose content, a Track Number, runs past the end of the file: never scanned for elements.
const Bytes trackNumber1 = element(TRACK_NUMBER, "\x01"), voidElement = element(test::VOID, "\0"s),
            crc = element(test::CRC, "\x12\x34\x56\x78"), webm = test::ebmlHeader("webm"),
            entry = master(TRACK_ENTRY, {trackNumber1}), pastEnd = "\x63\xA2\x86" + trackNumber1;

TEST(EbmlReader, ProcessEbmlDecodesResynchronisesStepsOutAndLoadsWithinLimits) {
    constexpr std::uint64_t MAX = 64 << 20, UNKNOWN = (1ull << 56) - 1;  // MAX: the most content loaded
    // ops, one call each: 'r' reads, 'p' peeks, 's' reads with `skipContent`; then the position and the record (ID 0:
    // reset, the last call returned false).
    struct Row { const char* name; Bytes bytes; const char* ops; std::uint64_t at; std::uint32_t id; std::uint64_t size;
                 bool data; };
    // An unknown ID (the search goes on one byte past its size's first byte), the size byte 00 after a Track UID, Void,
    // CRC-32, bytes that start no ID.
    const Bytes junk = "\x10\0\0\x01\x83\x73\xC5\0"s + voidElement + crc + "\0\x05\x0F"s + trackNumber1;
    // EBML headers stepped over: a known size is skipped, an unknown one ends at the next level-0 element.
    const auto header = [](const char* name, const Bytes& field, std::uint64_t size, std::uint64_t at) {
        return Row{name, test::uint(EBML_HEADER) + field + webm + webm, "s", at, EBML_HEADER, size, false};
    };
    const Bytes unknownEntry = unknownSizeMaster(TRACK_ENTRY, {crc, voidElement, trackNumber1});
    const Bytes nested = unknownSizeMaster(TRACKS, {unknownSizeMaster(TRACK_ENTRY, {}), entry});
    const Row rows[] = {
        {"junk peeked", junk, "p", 0, TRACK_NUMBER, 1, true},
        {"junk read", junk, "r", junk.size(), TRACK_NUMBER, 1, true},
        {"a skip after a load leaves no content", trackNumber1 + trackNumber1, "rs", 6, TRACK_NUMBER, 1, false},
        {"low byte, unknown ID, 2-byte size", "\0\x10\0\0\x01\x40"s + trackNumber1, "r", 9, TRACK_NUMBER, 1, true},
        {"unknown size of a non-master", "\xD7\xFF\xB0\x80", "s", 2, TRACK_NUMBER, 127, false},
        header("one byte", "\x9F", 31, 5 + 31), header("one byte, unknown", "\xFF", 0x7F, 5),
        header("two bytes, unknown", "\x7F\xFF", 0x3FFF, 6), header("three bytes", "\x3F\xFF\xFE", 0x1FFFFE, 39),
        header("four bytes, unknown", "\x1F\xFF\xFF\xFF", 0x0FFFFFFF, 8),
        header("eight bytes, unknown", test::unknownSize(8), UNKNOWN, 12),
        {"content past the end, read", pastEnd, "r", pastEnd.size(), 0, 0, false},
        {"content past the end, peeked", pastEnd, "p", 0, 0, 0, false},
        {"content past the end, skipped", pastEnd, "s", pastEnd.size(), CODEC_PRIVATE, 6, false},
        {"a CRC-32 past the end", "\xBF\x88\x01\x02" + trackNumber1, "r", 7, 0, 0, false},
        // The files grown with zero bytes to the position given, so that content runs to its end or one byte past.
        {"over 64 MiB", "\x63\xA2" + test::size(MAX + 1, 4), "r", MAX + 7, 0, 0, false},
        {"64 MiB", "\x63\xA2" + test::size(MAX, 4), "r", MAX + 6, CODEC_PRIVATE, MAX, true},
        {"children of an unknown size end at a deeper element", unknownEntry + "\xB0\x80", "s", unknownEntry.size(),
         TRACK_ENTRY, UNKNOWN, false},
        {"nested unknown sizes end at missing content", nested + pastEnd, "s", nested.size(), TRACKS, UNKNOWN, false}};
    MatroskaReader::create_matroska_dict();
    for (const Row& row : rows) {  // a reader through a three-byte window, so that headers cross refills
        const test::TempFile file(row.bytes);
        if (row.at > row.bytes.size()) std::filesystem::resize_file(file.path, row.at);
        WindowedFileStream in(3);
        in.open(file.path);
        MatroskaReader reader(in);
        bool found = false;
        for (const char* op = row.ops; *op != '\0'; ++op) {
            found = reader.ProcessEbml(*op == 's', *op == 'p' ? PEEK : READ);
        }
        const EbmlElement& e = reader.element;
        EXPECT_EQ(std::tuple(found, static_cast<std::uint64_t>(in.tellg()), e.id, e.size, e.data != nullptr),
                  std::tuple(row.id != 0, row.at, row.id, row.size, row.data)) << row.name;
    }
}

}  // namespace
