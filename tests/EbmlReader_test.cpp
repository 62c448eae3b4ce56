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
            crc = element(0xBF, "\x12\x34\x56\x78"), webm = test::ebmlHeader("webm"), cues = master(0x1C53BB6B, {}),
            info = master(INFO, {}), entry = master(TRACK_ENTRY, {trackNumber1}), pastEnd = "\x63\xA2\x85\x01\x02";

// A reader over `bytes` (grown with zero bytes to `size`) through a three-byte window, so headers cross refills.
struct Opened {
    Opened(std::string what, const Bytes& bytes, std::size_t size = 0) : trace(__FILE__, __LINE__, what), file(bytes) {
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
    struct Row { Bytes bytes; char op; std::size_t at; std::uint32_t id = 0; std::size_t size = 0; bool data = false; };
    // An EBML header skipped: an unknown size ends at the next level-0 element, a known one is stepped over.
    const auto header = [](Bytes field, std::size_t size, std::size_t at) {
        return Row{test::id(HEADER) + field + webm + webm, 's', at, HEADER, size}; };
    // An unknown ID (on at q+5), the size byte 00 after a Track UID, Void, CRC-32, bytes that start no ID.
    const Bytes junk = "\x10\0\0\x01\x83\x73\xC5\0"s + voidElement + crc + "\0\x05\x0F"s + trackNumber1;
    const Row rows[] = {
        {junk, 'p', 0, TRACK_NUMBER, 1, true}, {junk, 'r', 23, TRACK_NUMBER, 1, true}, header("\x9F", 31, 36),
        {"\xD7\x80", 'r', 2, TRACK_NUMBER, 0, true}, {"\xD7\xFF\xB0\x80", 's', 2, TRACK_NUMBER, 127},  // a non-master
        header("\xFF", 0x7F, 5), header("\x7F\xFF", 0x3FFF, 6), header("\x3F\xFF\xFE", 0x1FFFFE, 39),
        header("\x1F\xFF\xFF\xFF", 0x0FFFFFFF, 8), header(test::unknownSize(8), UNKNOWN, 12),
        {pastEnd, 'r', 5}, {pastEnd, 'p', 0}, {pastEnd, 's', 5, CODEC_PRIVATE, 5},  // content past the end of the file
        {"\xBF\x88\x01\x02" + trackNumber1, 'r', 7},  // a CRC-32 whose content runs past the end of the file
        {"\x63\xA2" + test::size(MAX + 1, 4), 'r', MAX + 7},  // over and at 64 MiB, the files grown to the position
        {"\x63\xA2" + test::size(MAX, 4), 'r', MAX + 6, CODEC_PRIVATE, MAX, true},
        // Children of unknown-size masters, Void and CRC-32 among them, end at a deeper element or missing content.
        {unknownSizeMaster(TRACK_ENTRY, {crc, voidElement, trackNumber1}) + "\xB0\x80", 's', 21, TRACK_ENTRY, UNKNOWN},
        {unknownSizeMaster(TRACKS, {unknownSizeMaster(TRACK_ENTRY, {}), entry}) + pastEnd, 's', 26, TRACKS, UNKNOWN}};
    for (const Row& row : rows) {
        Opened o("row " + std::to_string(&row - rows), row.bytes, row.at);
        EXPECT_EQ(o.reader.ProcessEbml(row.op == 's', row.op == 'p' ? PEEK : READ), row.id != 0);
        const EbmlElement& e = o.reader.element;
        EXPECT_EQ(std::tuple(o.at(), e.id, e.size, e.data != nullptr), std::tuple(row.at, row.id, row.size, row.data));
    }
}

// A header is looked for only in front of the limit; an element found there may run past it.
TEST(EbmlReader, ProcessEbmlLooksForHeadersOnlyBeforeItsLimit) {
    constexpr std::uint64_t NONE = ByteCursor::NO_LIMIT;
    const Bytes lead = "\0\0\x05"s + trackNumber1, zeros(40000, '\0');
    struct Row { Bytes bytes; std::uint64_t limit; bool found; std::uint64_t at; std::uint64_t start; };
    const Row rows[] = {
        {lead, NONE, true, 6, 3}, {lead, 4, true, 6, 3}, {lead, 3, false, 3, 0}, {lead, 1, false, 1, 0},
        {voidElement + trackNumber1, 3, false, 3, 0},  // a Void passed over up to the limit
        {zeros + trackNumber1, 100, false, 100, 0}, {zeros + trackNumber1, NONE, true, 40003, 40000}};
    for (const Row& row : rows) {
        Opened o("row " + std::to_string(&row - rows), row.bytes);
        o.reader.elementStart = 0;
        EXPECT_EQ(o.reader.ProcessEbml(false, READ, row.limit), row.found);
        EXPECT_EQ(std::tuple(o.at(), o.reader.elementStart), std::tuple(row.at, row.start));
    }
}

TEST(EbmlReader, StepOverToKeepsToOneLevel) {
    // After `reads` reads (entering masters): the target, the result, and the ID in the record and the position.
    struct Row { Bytes bytes; int reads; std::uint32_t target; bool result; std::uint32_t id; std::uint64_t at; };
    const Row rows[] = {
        {master(SEGMENT, {info}), 1, INFO, true, INFO, 5}, {master(SEGMENT, {info, cues}), 2, TRACKS, false, 0, 10},
        {master(SEGMENT, {info, cues}) + webm, 2, TRACKS, false, HEADER, 10},
        {master(SEGMENT, {info, cues, voidElement, master(TRACKS, {})}), 2, TRACKS, true, TRACKS, 15}};  // at the Void
    for (const Row& row : rows) {
        Opened o("row " + std::to_string(&row - rows), row.bytes);
        for (int i = 0; i < row.reads; ++i) o.reader.ProcessEbml(false, READ);
        EXPECT_EQ(o.reader.stepOverTo(row.target), row.result);
        EXPECT_EQ(std::tuple(o.reader.element.id, o.at()), std::tuple(row.id, row.at));
    }
}

TEST(EbmlReader, PreludeDocTypeAndClassification) {
    // The DocType ("-": no EBML header, result 0) and where its search ends, then the prelude text and where it ends.
    struct Row { Bytes bytes; std::string docType; std::uint64_t end; std::string text{}; std::uint64_t textEnd = 0; };
    const Bytes version = element(0x4286, "\x01"), docWebm = element(DOC_TYPE, "webm"), x(16384, 'x');
    const Row rows[] = {
        {"hello" + webm, "webm", 21, "hello", 5}, {"A\0B"s + webm, "webm", 19, "A", 3}, {"", "-", 0},
        {"\xFF\r\n\0def"s, "-", 7, "\xFF\r\n", 7}, {x + "\0"s + x + webm, "webm", 32785, x, 32769},  // 16 KiB reads
        {test::ebmlHeader("Matroska"), "Matroska", 20}, {test::ebmlHeader("matroska\0"s), "matroska", 21},
        {test::ebmlHeader(""), "", 12}, {master(HEADER, {voidElement, docWebm, version}), "webm", 15},  // odd order
        {master(HEADER, {version}) + master(SEGMENT, {docWebm}), "", 9}, {master(HEADER, {version}), "", 9},
        {"\x1A\0\0\0\x80"s + master(SEGMENT, {}) + webm, "-", 10}};  // an unknown ID at the first 0x1A byte
    for (const Row& row : rows) {
        Opened o("row " + std::to_string(&row - rows), row.bytes);
        o.in.seekg(static_cast<std::streamoff>(row.bytes.size() / 2));  // the scan starts over from byte 0
        std::string docType = "-", text = o.reader.readInitialAsciiText();
        EXPECT_EQ(std::tuple(text, o.at()), std::tuple(row.text, row.textEnd));
        const int result = o.reader.discoverEbmlFileType(docType);
        EXPECT_EQ(std::tuple(docType, result, o.at()), std::tuple(row.docType, int(row.docType != "-"), row.end));
    }
    EXPECT_EQ(test::runToolOn(test::ebmlHeader("Matroska")), test::ran("\nUnknown EBML File\n"));
}

TEST(EbmlReader, DisplayWritesOneLinePerType) {
    using Row = std::pair<Bytes, std::string>;
    const auto freq = [](Bytes v, Bytes t) { return Row{element(0xB5, v), "\t\t\t\tSampling Frequency " + t + "\n"}; };
    const auto offset = [](Bytes v, Bytes t) { return Row{element(0x537F, v), "\t\t\tTrackOffset " + t + "\n"}; };
    const auto bin = [](Bytes v, Bytes t) { return Row{element(0x63A2, v), "\t\t\tCodec Private " + t + "\n\n"}; };
    const Row rows[] = {
        {trackNumber1, "\t\t\tTrack Number 1\n"}, {master(SEGMENT, {}), "SEGMENT \n"}, bin("", ""),
        {element(0x86, "ab\0cd"s), "\t\t\tCodec Id ab\n"}, {element(0x536E, "ab\0cd"s), "\t\t\tName ab\n"},
        bin("\x01\x4D\x40\x1F", "01:4D:40:1F"), freq("\x47\x3B\x80\0"s, "48000"), freq("\xFF\xC0\0\0"s, "-nan"),
        freq("\x40\xE7\x70\0\0\0\0\0"s, "48000"), offset("\xFF\xFE", "-2"), offset("\x7F", "127"),
        offset("\x80", "-128"), offset(Bytes(8, '\xFF'), "-1"), offset("\x80\0\0\0\0\0\0"s, "-36028797018963968")};
    for (const Row& row : rows) {
        Opened o(row.second, row.first);
        const test::CoutCapture capture;
        if (o.reader.ProcessEbml(false, READ)) o.reader.displayCurrentElementInformation();
        EXPECT_EQ(capture.text(), row.second);
    }
}

}  // namespace
