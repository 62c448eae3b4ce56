// End-to-end runs of the Tracks search and listing, on built files and on the real samples.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using namespace std::string_literals;
using test::Bytes, test::element, test::id, test::master, test::uint, test::unknownSizeMaster;

constexpr std::uint32_t SEGMENT = 0x18538067, SEEKHEAD = 0x114D9B74, SEEK = 0x4DBB, SEEK_ID = 0x53AB,
                        INFO = 0x1549A966, TRACKS = 0x1654AE6B, TRACK_ENTRY = 0xAE, TRACK_NUMBER = 0xD7,
                        CODEC_ID = 0x86, VOID = 0xEC;

// Stands for "where the Segment's child k starts" (k from 0); `segment` writes the real position in.
std::uint64_t at(std::uint64_t k) { return 0xF0F0F0F0F0F0F000 | k; }
// The position always takes 8 bytes, so a SeekHead's size does not depend on where its entries point.
Bytes seek(std::uint32_t target, std::uint64_t position) {
    return master(SEEK, {element(SEEK_ID, id(target)), element(0x53AC, uint(position, 8))});
}
Bytes tracksAt(std::uint64_t k) { return master(SEEKHEAD, {seek(TRACKS, at(k))}); }
// `count` Seek entries naming a SeekHead at `first`, `first + step`, ...
Bytes seekHeadEntries(std::size_t count, std::uint64_t first, std::uint64_t step) {
    Bytes entries;
    for (std::size_t i = 0; i < count; ++i) entries += seek(SEEKHEAD, first + i * step);
    return entries;
}

// The Segment's content, with every at(k) replaced by the offset of child k from its first byte.
Bytes segment(const std::vector<Bytes>& children) {
    std::vector<std::uint64_t> starts;
    Bytes out;
    for (const Bytes& child : children) {
        starts.push_back(out.size());
        out += child;
    }
    const Bytes marker = uint(at(0), 8).substr(0, 7);
    for (auto p = out.find(marker); p != Bytes::npos; p = out.find(marker, p + 8)) {
        out.replace(p, 8, uint(starts.at(static_cast<std::uint8_t>(out[p + 7])), 8));
    }
    return out;
}
Bytes matroska(const std::vector<Bytes>& children, const Bytes& docType = "matroska") {
    return test::ebmlHeader(docType) + element(SEGMENT, segment(children));
}
const Bytes entry = master(TRACK_ENTRY, {element(TRACK_NUMBER, uint(1)), element(CODEC_ID, "V_VP8")});
const Bytes tracks = master(TRACKS, {entry}), info = master(INFO, {element(0x2AD7B1, uint(1000000, 3))});
// Known elements placed where a listing that runs on too far would show them.
const Bytes cues = master(0x1C53BB6B, {}), cluster = master(0x1F43B675, {});

const std::string mkv = "\nMatroska File\n", trackOne = "\tTracks \n\t\tTrack Entry \n\t\t\tTrack Number 1\n";
const std::string listing = trackOne + "\t\t\tCodec Id V_VP8\n", found = "TRACKs found.\n";
const std::string searching = "Searching TRACKs manually... ", manual = "SEEKHEAD not present\n" + searching;
const std::string notPlayable = "It seems there is no TRACKs. Therefore, this Matroska file is not playable.\n";
const std::string direct = mkv + listing, walked = mkv + searching + found + listing;

// A chain of `count` SeekHeads, each naming the next; the last indexes Tracks, which follows the chain.
std::vector<Bytes> chain(std::size_t count) {
    std::vector<Bytes> children;
    for (std::size_t k = 1; k < count; ++k) children.push_back(master(SEEKHEAD, {seek(SEEKHEAD, at(k))}));
    children.push_back(tracksAt(count));
    children.push_back(tracks);
    return children;
}

TEST(MatroskaReaderEndToEnd, BuiltFilesListExactlyTheirTracks) {
    const Bytes webmTracks = master(TRACKS, {master(TRACK_ENTRY, {
        element(TRACK_NUMBER, uint(1)), element(0x73C5, uint(4660)), element(0x83, uint(1)), element(CODEC_ID, "V_VP8"),
        master(0xE0, {element(0xB0, uint(320)), element(0xBA, uint(240))})})});
    // Every value type, in an unknown-size Track Entry and a sized one; unknown 0x6E5B's content is a Track Number.
    // Signed values of 1, 7 and 8 bytes; text cut at a zero byte; an empty binary; a NaN; a level-0 element.
    const Bytes allTypes = master(TRACKS, {
        unknownSizeMaster(TRACK_ENTRY, {element(TRACK_NUMBER, uint(1)), element(0x537F, uint(0xFFFE, 2)),
            element(0x6E5B, element(TRACK_NUMBER, uint(7))), element(0x23314F, uint(0x3F800000)),
            element(0x536E, "Vidéo"), element(0x63A2, uint(0x014D401F, 4))}),
        master(TRACK_ENTRY, {element(TRACK_NUMBER, uint(2)), element(0x22B59C, "ger"), master(0xE1, {
            element(0xB5, uint(0x40E7700000000000)), element(0x78B5, uint(0x473B8000)), element(0x9F, uint(2)),
            element(0xB5, uint(0xFFC00000))}), element(0x537F, "\x7F"), element(0x537F, "\x80"),
            element(0x537F, uint(1ull << 55, 7)), element(0x537F, Bytes(8, '\xFF')), element(CODEC_ID, "ab\0cd"s),
            element(0x536E, "ab\0cd"s), element(0x63A2, "")}), master(SEGMENT, {})});
    const Bytes cutTracks = id(TRACKS) + test::size(entry.size() - 2, 1) + entry;  // Codec Id runs past its end
    const Bytes front = master(SEEKHEAD, {seek(SEEKHEAD, at(2))}), full = tracksAt(3);
    const auto frontWith = [](const Bytes& entries) { return element(SEEKHEAD, entries + seek(SEEKHEAD, at(2))); };
    // A writer's bug: the SeekHead ID without its first byte. Its eight-byte size reads as unknown bytes, and the
    // reader finds its way again on the first SeekID, a level deeper than the Segment's children.
    Bytes brokenSeekHead = master(SEEKHEAD, {seek(INFO, at(1)), seek(TRACKS, at(2))}, 8);
    brokenSeekHead[0] = '\0';
    const struct { const char* name; Bytes file; std::string expected; } cases[] = {
        {"webm example", matroska({master(SEEKHEAD, {seek(INFO, at(1)), seek(TRACKS, at(2))}), info, webmTracks},
                                  "webm"),
         "\nWEBM\n\tTracks \n\t\tTrack Entry \n\t\t\tTrack Number 1\n\t\t\tTrack Uid 4660\n\t\t\tTrack Type 1\n"
         "\t\t\tCodec Id V_VP8\n\t\t\tVideo \n\t\t\t\tPixel Width 320\n\t\t\t\tPixel Height 240\n"},
        {"every value type, unknown element inside, Tracks last", matroska({tracksAt(1), allTypes}),
         mkv + trackOne + "\t\t\tTrackOffset -2\n\t\t\tTrack Number 7\n\t\t\tTrack Timecode Scale 1\n"
               "\t\t\tName Vidéo\n\t\t\tCodec Private 01:4D:40:1F\n\n\t\tTrack Entry \n\t\t\tTrack Number 2\n"
               "\t\t\tLanguage ger\n\t\t\tAudio \n\t\t\t\tSampling Frequency 48000\n"
               "\t\t\t\tOutput sampling Frequency 48000\n\t\t\t\tChannels 2\n\t\t\t\tSampling Frequency -nan\n"
               "\t\t\tTrackOffset 127\n\t\t\tTrackOffset -128\n\t\t\tTrackOffset -36028797018963968\n"
               "\t\t\tTrackOffset -1\n\t\t\tCodec Id ab\n\t\t\tName ab\n\t\t\tCodec Private \n\nSEGMENT \n"},
        {"SeekHead after Info, Void in front of Tracks", matroska({info, tracksAt(3), element(VOID, "xy"), tracks}),
         mkv + manual + found + listing},
        {"Void first inside the SeekHead, duplicate Tracks entries: the first wins and is not at Tracks",
         matroska({master(SEEKHEAD, {element(VOID, "abc"), seek(TRACKS, at(1)), seek(TRACKS, at(2))}), info, tracks}),
         mkv},
        {"SeekHead without a Seek", matroska({master(SEEKHEAD, {info}), tracks}), mkv + "SEEK entry not present\n"},
        {"Tracks entry without SeekPosition: position 0 is the SeekHead",
         matroska({master(SEEKHEAD, {seek(INFO, at(1)), master(SEEK, {element(SEEK_ID, id(TRACKS))})}), info, tracks}),
         mkv},
        {"element running past Tracks end, Cues and Cluster after Tracks",
         matroska({tracksAt(1), cutTracks, cues, cluster}), mkv + trackOne},
        {"an empty element in the last two bytes of Tracks, zero bytes after",
         matroska({tracksAt(1), master(TRACKS, {master(TRACK_ENTRY, {element(TRACK_NUMBER, "")})}), Bytes(99, '\0')}),
         mkv + "\tTracks \n\t\tTrack Entry \n\t\t\tTrack Number 0\n"},
        {"unknown-size Segment and Tracks: the listing runs to the end of the file",
         test::ebmlHeader("matroska") + id(SEGMENT) + test::unknownSize() +
             segment({tracksAt(1), unknownSizeMaster(TRACKS, {entry}), cues, cluster}),
         mkv + listing + "\tCues \n\tCluster \n"},
        // Chained SeekHeads: at most 16 distinct targets are looked at, and a SeekHead must start right there.
        {"an honest front-to-full chain", matroska({front, info, full, tracks}), direct},
        {"16 SeekHeads in a chain: the last is the 16th look", matroska(chain(17)), direct},
        {"17 SeekHeads in a chain: the last is never looked at", matroska(chain(18)), walked},
        // Raw positions 1 to 16 fall inside the front SeekHead, past its ID: no SeekHead starts there.
        {"15 junk targets, then the real one", matroska({frontWith(seekHeadEntries(15, 1, 1)), info, full, tracks}),
         direct},
        {"16 junk targets: the real one is not looked at",
         matroska({frontWith(seekHeadEntries(16, 1, 1)), info, full, tracks}), walked},
        {"one junk target named 16 times is one look",
         matroska({frontWith(seekHeadEntries(16, 5, 0)), info, full, tracks}), direct},
        {"16 targets past the end are one target",
         matroska({frontWith(seekHeadEntries(16, 1ull << 40, 1)), info, full, tracks}), direct},
        {"entries naming the front SeekHead cost nothing",
         matroska({frontWith(seekHeadEntries(20, at(0), 0)), info, full, tracks}), direct},
        {"a target on a Void right in front of the SeekHead",
         matroska({front, info, element(VOID, ""), tracksAt(4), tracks}), walked},
        {"the first element after the SeekHead's header is not a Seek",
         matroska({front, info, master(SEEKHEAD, {info, seek(TRACKS, at(3))}), tracks}), walked},
        {"a CRC-32 in front of the first Seek is passed over",
         matroska({front, info, master(SEEKHEAD, {element(0xBF, "\x01\x02\x03\x04"), seek(TRACKS, at(3))}), tracks}),
         direct},
        {"a SeekHead whose size runs past the end of the file",
         matroska({front, info, id(SEEKHEAD) + test::size(1ull << 40, 8) + seek(TRACKS, at(3)), tracks}), direct},
        // The walk over the Segment steps over anything below the top level, up to the first Tracks.
        {"a SeekHead whose ID lost its first byte", matroska({brokenSeekHead, info, tracks}),
         mkv + manual + found + listing},
        {"a Track Entry and a Video directly in the Segment",
         matroska({entry, master(0xE0, {element(0xB0, uint(320))}), tracks}), mkv + manual + found + listing},
        {"a SeekHead without a Tracks entry, then a Track Entry",
         matroska({master(SEEKHEAD, {seek(INFO, at(1))}), entry, tracks}), walked},
        {"a second EBML header before Tracks", matroska({info, test::ebmlHeader("matroska"), tracks}),
         mkv + manual + notPlayable},
        {"a Segment inside the Segment before Tracks", matroska({info, master(SEGMENT, {}), tracks}),
         mkv + manual + notPlayable},
        {"a Segment as the first element of the walk", matroska({master(SEGMENT, {}), tracks}),
         mkv + manual + notPlayable},
        {"no Tracks before the end of the file", matroska({info, entry}), mkv + manual + notPlayable},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::runToolOn(c.file), test::ran(c.expected)) << c.name;
    }
}

// A SeekPosition whose sum with the Segment's data start would wrap leads to the end of the file, not in front of
// the Segment; one that leads past the Segment but inside the file is used.
TEST(MatroskaReaderEndToEnd, SeekPositionsNeverWrap) {
    const Bytes header = test::ebmlHeader("matroska");
    const std::uint64_t dataStart = header.size() + id(SEGMENT).size() + 1;  // a one-byte size field
    const Bytes wrapToFileStart = master(SEEKHEAD, {seek(TRACKS, 0 - dataStart)});
    const Bytes chainedSeekHead = master(SEEKHEAD, {seek(TRACKS, 0)});
    const Bytes wrapToChained = master(SEEKHEAD, {seek(SEEKHEAD, 0 - dataStart)});
    const Bytes afterSegment = master(SEEKHEAD, {seek(TRACKS, wrapToFileStart.size())});
    ASSERT_EQ(tracks.find('\x1A'), Bytes::npos);  // the Tracks in front of the header is all prelude
    const std::string chainedPrelude = chainedSeekHead.substr(0, chainedSeekHead.find('\0'));
    const struct { const char* name; Bytes file; std::string expected; } cases[] = {
        {"Tracks position in front of the Segment", tracks + header + element(SEGMENT, wrapToFileStart, 1),
         "Initial ASCII Text: " + tracks + mkv},
        {"chained SeekHead in front of the Segment", chainedSeekHead + header + element(SEGMENT, wrapToChained, 1),
         "Initial ASCII Text: " + chainedPrelude + mkv + searching + notPlayable},
        {"Tracks past the end of the Segment", header + element(SEGMENT, afterSegment, 1) + tracks, mkv + listing},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::runToolOn(c.file), test::ran(c.expected)) << c.name;
    }
}

std::string expected(const std::string& name) { return test::readFile(test::dataPath("expected/" + name + ".txt")); }

TEST(MatroskaReaderEndToEnd, RealSamplesMatchTheirCheckedListings) {
    std::size_t samples = 0;
    for (const auto& file : std::filesystem::directory_iterator(test::dataPath(""))) {
        if (file.path().extension() != ".mkv" && file.path().extension() != ".webm") continue;
        const std::string name = file.path().filename().string();
        EXPECT_EQ(test::runTool({file.path().string()}), test::ran(expected(name))) << name;
        samples += 1;
    }
    EXPECT_GE(samples, 12u);
    // Two facts spelled out, to show what the checked listings hold.
    EXPECT_NE(expected("ffmpeg_vp9_opus.webm").find("\t\t\tCodec Id A_OPUS\n"), Bytes::npos);
    EXPECT_EQ(expected("mkvmerge_no_seekhead.mkv").rfind(mkv + manual + found + "\tTracks \n", 0), 0u);
}

}  // namespace
