// The built tool run end to end: on built files, on the real samples, from the command line and on a terminal.

#include <sys/stat.h>

#include <cstdlib>

#include "MatroskaReader.h"
#include "TestSupport.h"

namespace {

using namespace std::string_literals;
using test::Bytes, test::element, test::master, test::uint, test::unknownSizeMaster, test::ebmlHeader, test::size;
using test::EBML_HEADER, test::DOC_TYPE, test::SEGMENT, test::SEEKHEAD, test::SEEK, test::SEEK_ID, test::INFO,
    test::TRACKS, test::TRACK_ENTRY, test::TRACK_NUMBER, test::CODEC_ID, test::CODEC_PRIVATE, test::VOID, test::CRC;

// Stands for `past` bytes after the start of the Segment's child k (both below 16): `segment` writes the offset in.
std::uint64_t at(std::uint64_t k, std::uint64_t past = 0) { return 0xF0F0F0F0F0F0F000 + (past << 8) + k; }
// The position always takes 8 bytes, so a SeekHead's size does not depend on where its entries point.
Bytes seek(std::uint32_t target, std::uint64_t position) {
    return master(SEEK, {element(SEEK_ID, uint(target)), element(0x53AC, uint(position, 8))});
}
Bytes tracksAt(std::uint64_t k) { return master(SEEKHEAD, {seek(TRACKS, at(k))}); }
// The Segment's content, with every at(k) replaced by the offset of child k from its first byte.
Bytes segment(const std::vector<Bytes>& children) {
    std::vector<std::uint64_t> starts;
    Bytes out;
    for (const Bytes& child : children) starts.push_back(out.size()), out += child;
    const Bytes marker = uint(at(0), 8).substr(0, 6);
    for (auto p = out.find(marker); p != Bytes::npos; p = out.find(marker, p + 8)) {
        const std::uint64_t past = static_cast<std::uint8_t>(out[p + 6]) - 0xF0u;
        out.replace(p, 8, uint(starts.at(static_cast<std::uint8_t>(out[p + 7])) + past, 8));
    }
    return out;
}
const Bytes header = ebmlHeader("matroska");
Bytes matroska(const std::vector<Bytes>& children) { return header + element(SEGMENT, segment(children)); }
const Bytes entry = master(TRACK_ENTRY, {element(TRACK_NUMBER, uint(1)), element(CODEC_ID, "V_VP8")});
const Bytes tracks = master(TRACKS, {entry}), info = master(INFO, {element(0x2AD7B1, uint(1000000, 3))});
// Known elements placed where a listing that runs on too far would show them.
const Bytes cues = master(0x1C53BB6B, {}), cluster = master(0x1F43B675, {});

const std::string mkv = "\nMatroska File\n", trackOne = "\tTracks \n\t\tTrack Entry \n\t\t\tTrack Number 1\n";
const std::string listing = trackOne + "\t\t\tCodec Id V_VP8\n", found = "TRACKs found.\n";
const std::string searching = "Searching TRACKs manually... ", manual = "SEEKHEAD not present\n" + searching;
const std::string notPlayable = "It seems there is no TRACKs. Therefore, this Matroska file is not playable.\n";
const std::string direct = mkv + listing, walked = mkv + searching + found + listing, notEbml = "\nNot an EBML File\n";
const std::string fromWalk = mkv + manual + found + listing, noTracks = mkv + manual + notPlayable;
const std::string unknown = "\nUnknown EBML File\n", webm = "\nWEBM\nSEGMENT not present\n";

// Runs the tool on `bytes` written into a pipe, as `cat FILE | quorvel -` does; `live`: see test::Setup.
test::RunResult runOnPipe(const Bytes& bytes, bool live = false) {
    return *test::runTool({"-"}, {STDIN_FILENO, -1, false, 20, &bytes, live});
}

TEST(EndToEnd, BuiltFilesGiveExactlyTheirListing) {
    // Every value type, in an unknown-size Track Entry and a sized one (unknown 0x6E5B holds a Track Number): signed
    // values of 1, 2, 7 and 8 bytes; floats of 4 and 8 bytes, NaN, infinities; text cut at a zero byte; empty binary.
    const Bytes allTypes = master(TRACKS, {
        unknownSizeMaster(TRACK_ENTRY, {element(TRACK_NUMBER, uint(1)), element(0x537F, uint(0xFFFE, 2)),
            element(0x6E5B, element(TRACK_NUMBER, uint(7))), element(0x23314F, uint(0x3DFCD680)),
            element(0x536E, "Vidéo"), element(CODEC_PRIVATE, uint(0x014D401F, 4))}),
        master(TRACK_ENTRY, {element(TRACK_NUMBER, uint(2)), element(0x22B59C, "ger"), master(0xE1, {
            element(0xB5, uint(0x40E7700000000000)), element(0x78B5, uint(0x473B8000)), element(0x9F, uint(2)),
            element(0xB5, uint(0xFFC00000)), element(0xB5, uint(0x7FF0000000000000)),
            element(0x78B5, uint(0xFF800000))}), element(0x3B4040, "i"), element(0x26B240, "d"),
            master(0xE0, {element(0x2EB524, "\x01"), element(0x2FB523, uint(0x3F800000))}),
            element(0x537F, "\x7F"), element(0x537F, "\x80"), element(0x537F, ""),
            element(0x537F, uint(1ull << 55, 7)), element(0x537F, Bytes(8, '\xFF')), element(CODEC_ID, "ab\0cd"s),
            element(0x536E, "ab\0cd"s), element(CODEC_PRIVATE, "")}), master(SEGMENT, {})});
    const std::string allValues = mkv + trackOne + "\t\t\tTrackOffset -2\n\t\t\tTrack Number 7\n"
        "\t\t\tTrack Timecode Scale 0.123456\n\t\t\tName Vidéo\n\t\t\tCodec Private 01:4D:40:1F\n\n\t\tTrack Entry \n"
        "\t\t\tTrack Number 2\n\t\t\tLanguage ger\n\t\t\tAudio \n\t\t\t\tSampling Frequency 48000\n"
        "\t\t\t\tOutput sampling Frequency 48000\n\t\t\t\tChannels 2\n\t\t\t\tSampling Frequency -nan\n"
        "\t\t\t\tSampling Frequency inf\n\t\t\t\tOutput sampling Frequency -inf\n\t\t\tCodecInfoURL i\n"
        "\t\t\tCodecDownloadURL d\n\t\t\tVideo \n\t\t\t\tColourSpace 01\n\n\t\t\t\tGammaValue 1\n"
        "\t\t\tTrackOffset 127\n\t\t\tTrackOffset -128\n\t\t\tTrackOffset 0\n\t\t\tTrackOffset -36028797018963968\n"
        "\t\t\tTrackOffset -1\n\t\t\tCodec Id ab\n\t\t\tName ab\n\t\t\tCodec Private \n\nSEGMENT \n";
    const Bytes cutTracks = uint(TRACKS) + size(entry.size() - 2, 1) + entry;  // Codec Id runs past its end
    const Bytes emptyLast = master(TRACKS, {master(TRACK_ENTRY, {element(TRACK_NUMBER, "")})});
    const Bytes front = master(SEEKHEAD, {seek(SEEKHEAD, at(2))}), full = tracksAt(3);
    // A front SeekHead naming `junk` targets, target 5 again, positions past the end of the file (they all lead to
    // the end: one look) and `also` nine times each, then the full one. Raw positions 1 to 16 fall inside the front,
    // past its ID: no SeekHead starts there. The front itself is never looked at again.
    const auto frontWith = [](std::uint64_t junk, std::uint64_t also) {
        Bytes entries;
        for (std::uint64_t i = 1; i <= junk; ++i) entries += seek(SEEKHEAD, i);
        for (int i = 0; i < 9; ++i) entries += seek(SEEKHEAD, 5) + seek(SEEKHEAD, ~0ull - i) + seek(SEEKHEAD, also);
        return element(SEEKHEAD, entries + seek(SEEKHEAD, at(2)));
    };
    std::vector<Bytes> chain;  // 16 SeekHeads, each naming the next; the last indexes Tracks, which follows them
    for (int k = 1; k <= 16; ++k) chain.push_back(master(SEEKHEAD, {element(CRC, "1234"), seek(SEEKHEAD, at(k))}));
    chain.push_back(tracksAt(17)), chain.push_back(tracks);
    // A writer's bug: the SeekHead ID without its first byte. Its eight-byte size reads as unknown bytes, and the
    // reader finds its way again on the first SeekID, a level deeper than the Segment's children.
    Bytes brokenSeekHead = master(SEEKHEAD, {seek(INFO, at(1)), seek(TRACKS, at(2))}, 8);
    brokenSeekHead[0] = '\0';
    // SeekPositions whose sum with where the Segment's data starts (after a one-byte size field) would wrap around.
    const std::uint64_t back = 0 - (header.size() + 5);
    const Bytes wrapToTracks = master(SEEKHEAD, {seek(TRACKS, back)}), inFront = master(SEEKHEAD, {seek(TRACKS, 0)});
    const Bytes wrapToChain = master(SEEKHEAD, {seek(SEEKHEAD, back)});
    const Bytes version = element(0x4286, "\x01"), docType = element(DOC_TYPE, "matroska"), x(70000, 'x');
    const Bytes segmentOfTracks = element(SEGMENT, segment({tracks}));
    // A DocType after a Void and in front of the version.
    const Bytes webmHeader = master(EBML_HEADER, {element(VOID, "\0"s), element(DOC_TYPE, "webm"), version});
    const struct { const char* name; Bytes file; std::string expected; } cases[] = {
        // The prelude, and the file's type: only a DocType among the EBML header's children counts, up to a zero byte.
        {"a prelude cut at a zero byte", "A\0B"s + webmHeader, "Initial ASCII Text: A" + webm},
        {"a prelude longer than a read", x + "\0"s + x + webmHeader, "Initial ASCII Text: " + x + webm},
        {"no 0x1A at all", "\xFF\r\n\0def"s, "Initial ASCII Text: \xFF\r\n" + notEbml},
        {"an unknown ID, then a Segment", "\x1A\0\0\0\x80"s + master(SEGMENT, {}) + ebmlHeader("webm"), notEbml},
        {"a DocType after a header of known size", master(EBML_HEADER, {version}) + docType + segmentOfTracks, unknown},
        {"a DocType in the Segment", unknownSizeMaster(EBML_HEADER, {version}) + master(SEGMENT, {docType}), unknown},
        {"a DocType running past the header's end",
         uint(EBML_HEADER) + size(version.size() + 4, 1) + version + docType + segmentOfTracks, unknown},
        {"a header of unknown size, a DocType ended by a zero byte",
         unknownSizeMaster(EBML_HEADER, {version, element(DOC_TYPE, "matroska\0"s)}) + segmentOfTracks, fromWalk},
        {"a file cut inside the DocType", master(EBML_HEADER, {version, docType}).substr(0, 14), unknown},
        // The listing ends with Tracks, or at the end of the file when the sizes are not known.
        {"every value type, unknown element inside, Tracks last", matroska({tracksAt(1), allTypes}), allValues},
        {"an element running past Tracks", matroska({tracksAt(1), cutTracks, cues, cluster}), mkv + trackOne},
        {"an empty element in the last two bytes of Tracks", matroska({tracksAt(1), emptyLast, Bytes(99, '\0')}),
         mkv + "\tTracks \n\t\tTrack Entry \n\t\t\tTrack Number 0\n"},
        {"unknown-size Segment and Tracks",
         header + uint(SEGMENT) + test::unknownSize() + segment({tracksAt(1), unknownSizeMaster(TRACKS, {entry}), cues,
                                                                 cluster}), direct + "\tCues \n\tCluster \n"},
        // The SeekHead index: the first Tracks entry wins; no position leads out of the file.
        {"two Tracks entries after a Void: the first wins", matroska({master(SEEKHEAD, {element(VOID, "abc"),
             seek(TRACKS, at(1)), seek(TRACKS, at(2))}), info, tracks}), walked},
        {"SeekHead without a Seek", matroska({master(SEEKHEAD, {info}), tracks}),
         mkv + "SEEK entry not present\n" + searching + found + listing},
        {"a Tracks position in front of the Segment", tracks + header + element(SEGMENT, wrapToTracks, 1),
         "Initial ASCII Text: " + tracks + mkv + searching + notPlayable},
        {"a chained SeekHead in front of the Segment", inFront + header + element(SEGMENT, wrapToChain, 1),
         "Initial ASCII Text: " + inFront.substr(0, inFront.find('\0')) + mkv + searching + notPlayable},
        {"Tracks past the end of the Segment",
         header + element(SEGMENT, master(SEEKHEAD, {seek(TRACKS, wrapToTracks.size())}), 1) + tracks, direct},
        // Chained SeekHeads: at most 16 distinct targets are looked at, and a SeekHead must start right there.
        {"16 SeekHeads in a chain, a CRC-32 first in each: the last is the 16th look", matroska(chain), direct},
        {"15 looks at junk, then the real one, whose size runs past the end of the file",
         matroska({frontWith(14, at(0)), info, uint(SEEKHEAD) + size(1ull << 40, 8) + seek(TRACKS, at(3)), tracks}),
         direct},
        {"16 looks at junk: the real one is not looked at", matroska({frontWith(15, 5), info, full, tracks}), walked},
        {"the Tracks entry after a chained SeekHead's", matroska({master(SEEKHEAD, {seek(SEEKHEAD, at(1)),
             seek(TRACKS, at(2))}), master(SEEKHEAD, {seek(INFO, at(3))}), tracks, info}), direct},
        {"a Void at the target", matroska({front, info, element(VOID, ""), tracksAt(4), tracks}), walked},
        // The walk over the Segment steps over anything below the top level, up to the first Tracks.
        {"a SeekHead whose ID lost its first byte", matroska({brokenSeekHead, info, tracks}), fromWalk},
        {"a SeekHead after Info", matroska({info, tracksAt(2), tracks}), fromWalk},
        {"no Tracks entry, Tracks next", matroska({master(SEEKHEAD, {seek(INFO, at(2))}), tracks, info}), walked},
        {"a second EBML header before Tracks", matroska({info, header, tracks}), noTracks},
        {"a Segment as the first element of the walk", matroska({master(SEGMENT, {}), tracks}), noTracks},
        {"no Tracks before the end of the file", matroska({info, entry}), noTracks}};
    for (const auto& c : cases) {
        EXPECT_EQ(test::runToolOn(c.file), test::ran(c.expected)) << c.name;
        EXPECT_EQ(runOnPipe(c.file), test::ran(c.expected)) << c.name << ", through a pipe";
    }
}

// Stale indexes, in front of the Tracks they miss, in the SeekHead at the front or the one it chains to at the end:
// Tracks is listed all the same, by the walk from the Segment's start. A right index is listed with no message.
TEST(EndToEnd, AnIndexThatLeadsNowhereGivesWayToTheWalk) {
    const std::vector<Bytes> infoTracks = {info, tracks, cues, cluster};
    const struct { const char* name; Bytes entries; std::vector<Bytes> children; std::string expected; } cases[] = {
        {"an empty SeekHead", "", infoTracks, mkv + "SEEK entry not present\n" + searching + found + listing},
        {"every position one byte past its element",
         seek(INFO, at(1, 1)) + seek(TRACKS, at(2, 1)) + seek(0x1C53BB6B, at(3, 1)), infoTracks, walked},
        {"positions of all ones", seek(INFO, ~0ull) + seek(TRACKS, ~0ull), infoTracks, walked},
        {"Tracks at Info", seek(INFO, at(1)) + seek(TRACKS, at(1)), infoTracks, walked},
        {"Tracks past the end of the file", seek(TRACKS, 1u << 20), infoTracks, walked},
        {"a stale index and no Tracks", seek(TRACKS, at(2)), {info, cues, cluster}, mkv + searching + notPlayable},
        {"a right index", seek(INFO, at(1)) + seek(TRACKS, at(2)), infoTracks, direct}};
    for (const auto& c : cases) {
        std::vector<Bytes> front{element(SEEKHEAD, c.entries)}, chained{master(SEEKHEAD, {seek(SEEKHEAD, at(5))})};
        front.insert(front.end(), c.children.begin(), c.children.end());
        chained.insert(chained.end(), c.children.begin(), c.children.end());
        chained.resize(5), chained.push_back(element(SEEKHEAD, c.entries));  // the chained one is always child 5
        EXPECT_EQ(test::runToolOn(matroska(front)), test::ran(c.expected)) << c.name;
        // An empty SeekHead at the end of a chain is not followed: the index simply holds no Tracks entry.
        const std::string viaChain = c.entries.empty() ? walked : c.expected;
        EXPECT_EQ(test::runToolOn(matroska(chained)), test::ran(viaChain)) << c.name << ", behind a chained SeekHead";
    }
}

std::string expected(const std::string& name) { return test::readFile(test::dataPath("expected/" + name + ".txt")); }

TEST(Dictionaries, Contents) {
    for (int fill = 0; fill < 2; ++fill) MatroskaReader::create_matroska_dict();  // a refill replaces, never adds
    const ElementDictionary &global = EbmlReader::globalDict, &other = EbmlReader::notGlobalDict;
    EXPECT_EQ(std::make_pair(global.size(), other.size()), std::make_pair(std::size_t{3}, std::size_t{148}));
    const std::string fuzzDictionary = test::readFile(QUORVEL_FUZZ_DIR "/ebml.dict");
    for (const bool isGlobal : {true, false}) {  // without restating the tables: ID markers, levels, one table each
        for (const auto& [id, info] : isGlobal ? global : other) {
            EXPECT_EQ(id >> (7 * (id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1)), 1U) << info.name;
            EXPECT_TRUE(isGlobal ? info.level == 7 : info.level >= 0 && info.level <= 6) << info.name;
            EXPECT_EQ(global.count(id) + other.count(id), 1U) << info.name;
            std::string entry = "=\"";  // the fuzzer's dictionary knows every ID: "=\"\x1A\x45\xDF\xA3\"", say
            for (const char byte : test::uint(id)) {
                entry += {'\\', 'x', "0123456789ABCDEF"[(byte >> 4) & 15], "0123456789ABCDEF"[byte & 15]};
            }
            EXPECT_NE(fuzzDictionary.find(entry + "\"\n"), std::string::npos) << info.name;
        }
    }
}

// The argument names what is read, as a file or as a stream ("-": standard input); a directory or a closed standard
// input is refused. Output that cannot be written fails the run, still without a word on standard error.
TEST(CommandLine, WhatIsInspectedAndExitStatus) {
    const test::RunResult misused =
        test::ran("Please insert just one command line argument, indicating the file path.\n", 1);
    const test::RunResult refused = test::ran("Could not open file. Please check path and permissions.\n", 1);
    const test::TempFile empty("");
    const std::string dir = empty.dir + "/", sample = test::dataPath("ffmpeg_vp9_opus.webm");
    const std::string hello = expected("prelude_hello_ffmpeg.mkv");
    const test::RunResult listed = test::ran(expected("ffmpeg_vp9_opus.webm"));
    ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir + "nowhere", dir + "dangling");
    std::filesystem::create_symlink(sample, dir + "link");
    std::filesystem::copy_file(sample, dir + "-");
    // Standard input a file, read from where it stands (here past its prelude), or a directory.
    const int prelude = open(test::dataPath("prelude_hello_ffmpeg.mkv").c_str(), O_RDONLY);
    const int folder = open(dir.c_str(), O_RDONLY), full = open("/dev/full", O_WRONLY);
    lseek(prelude, 6, SEEK_SET);
    const std::tuple<std::vector<std::string>, test::Setup, test::RunResult> rows[] = {
        {{}, {}, misused}, {{"/dev/null", "/dev/null"}, {}, misused}, {{""}, {}, refused},
        {{dir + "missing"}, {}, refused}, {{dir}, {}, refused}, {{"/dev/null"}, {}, test::ran(notEbml)},
        {{dir + "dangling"}, {}, refused}, {{empty.path}, {}, test::ran(notEbml)}, {{dir + "link"}, {}, listed},
        {{"./-"}, {}, listed}, {{dir + "fifo"}, {}, listed}, {{"-"}, {folder}, refused}, {{"-"}, {-1}, refused},
        {{"-"}, {prelude}, test::ran(hello.substr(hello.find("\n\n") + 1))},
        {{dir + "link"}, {STDIN_FILENO, full}, test::ran("", 1)}};
    // A FIFO: the tool waits for its writer, as cat does.
    std::thread writer([&] { std::ofstream(dir + "fifo", std::ios::binary) << test::readFile(sample); });
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir);  // "./-" is the file named "-" there
    for (const auto& [args, setup, result] : rows) {
        EXPECT_EQ(test::runTool(args, setup), result) << testing::PrintToString(args) << ", input " << setup.input;
    }
    std::filesystem::current_path(here);
    writer.join();
    for (const int descriptor : {prelude, folder, full}) close(descriptor);
}

// A stream lists what the same bytes list as a file, as soon as Tracks has arrived, without waiting for more. Past
// what it holds (the front of the EBML data, the last bytes read) a return reads as the end of the file.
TEST(CommandLine, StreamsListAsFilesAndStopAtWhatTheyHold) {
    const Bytes sample = test::readFile(test::dataPath("mkvmerge_h264_aac_srt.mkv"));
    EXPECT_EQ(runOnPipe(sample, true), test::ran(expected("mkvmerge_h264_aac_srt.mkv")));
    EXPECT_EQ(std::get<0>(runOnPipe("hello" + sample, true)).substr(0, 26), "Initial ASCII Text: hello\n");
    // The chained SeekHead, 30 MiB in, indexes a Tracks 20 MiB in: no longer held once the chain has been read, so
    // the index leads to the end of what is held, and so does the walk that follows it.
    const Bytes pad = element(VOID, Bytes(10 << 20, '\0')), far = matroska({master(SEEKHEAD, {seek(SEEKHEAD, at(5))}),
        pad, pad, tracks, pad, tracksAt(3)});
    EXPECT_EQ(test::runToolOn(far), test::ran(direct));
    EXPECT_EQ(runOnPipe(far), test::ran(mkv + searching + notPlayable));
}

// On a terminal, stored text that could drive it is shown escaped; a pipe gets every byte as stored. Names, numbers
// and hex values are never touched. The prelude's é straddles the end of the first read of the file.
TEST(CommandLine, StoredTextCannotDriveATerminal) {
    const Bytes hs(65535, 'h'), name = "A\x1B[31mRED\x07" "B", codecId = "\x1B]0;title\x07";
    const Bytes prelude = hs + "é\x1B[2J\r\n";
    const test::TempFile input(prelude + matroska({master(TRACKS, {master(TRACK_ENTRY, {element(0x536E, name),
        element(CODEC_ID, codecId), element(CODEC_PRIVATE, "\x1B\x07")})})}));
    const std::string lines = mkv + manual + found + "\tTracks \n\t\tTrack Entry \n\t\t\tName ";
    const std::string onTerminal = "Initial ASCII Text: " + hs + "é\\x1B[2J\\x0D\\x0A" + lines + "A\\x1B[31mRED\\x07B\n"
        "\t\t\tCodec Id \\x1B]0;title\\x07\n\t\t\tCodec Private 1B:07\n\n";
    const std::string onPipe = "Initial ASCII Text: " + prelude + lines + name + "\n\t\t\tCodec Id " + codecId +
        "\n\t\t\tCodec Private 1B:07\n\n";
    EXPECT_EQ(test::runTool({input.path}), test::ran(onPipe));
    const std::optional<test::RunResult> run = test::runTool({input.path}, {STDIN_FILENO, -1, true});
    if (!run) GTEST_SKIP() << "no pseudo-terminal can be opened here";
    EXPECT_EQ(*run, test::ran(onTerminal));
}

// What the fuzzer keeps (its hand-built seeds, and every input that once failed) runs through the tool itself: each
// ends well within the time limit, with status 0 and nothing on standard error.
TEST(CommandLine, FuzzInputsRunCleanly) {
    std::size_t inputs = 0;
    for (const char* folder : {"/seeds", "/regressions"}) {
        for (const auto& input : std::filesystem::directory_iterator(QUORVEL_FUZZ_DIR + std::string(folder))) {
            const auto [out, err, status] = *test::runTool({input.path().string()}, {STDIN_FILENO, -1, false, 10});
            EXPECT_EQ(std::make_pair(err, status), std::make_pair(std::string(), 0)) << input.path();
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 7U);
}

}  // namespace
