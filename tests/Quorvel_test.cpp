#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "MatroskaReader.h"
#include "TestSupport.h"

namespace {

using namespace QuorvelGlobals;
using namespace std::string_literals;

TEST(Dictionaries, Contents) {
    for (int fill = 0; fill < 2; ++fill) MatroskaReader::create_matroska_dict();  // a refill replaces, never adds
    const ElementDictionary &global = EbmlReader::globalDict, &other = EbmlReader::notGlobalDict;
    EXPECT_EQ(std::make_pair(global.size(), other.size()), std::make_pair(std::size_t{3}, std::size_t{148}));
    for (const bool isGlobal : {true, false}) {  // without restating the tables: ID markers, levels, one table each
        for (const auto& [id, info] : isGlobal ? global : other) {
            EXPECT_EQ(id >> (7 * (id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1)), 1U) << info.name;
            EXPECT_TRUE(isGlobal ? info.level == GLOBAL_LEVEL : info.level >= 0 && info.level <= 6) << info.name;
            EXPECT_EQ(global.count(id) + other.count(id), 1U) << info.name;
        }
    }
}

// Only a regular file, links followed, is inspected: a directory would read as empty and a FIFO could block the run.
// Output that cannot be written fails the run, still without a word on standard error.
TEST(CommandLine, WhatIsInspectedAndExitStatus) {
    const std::string usage = "Please insert just one command line argument, indicating the file path.\n";
    const std::string cannotOpen = "Could not open file. Please check path and permissions.\n";
    const test::TempFile empty("");
    const std::string dir = empty.dir + "/";
    ASSERT_EQ(mkfifo((dir + "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(dir + "nowhere", dir + "dangling");
    std::filesystem::create_symlink(test::dataPath("ffmpeg_vp9_opus.webm"), dir + "link");
    const std::pair<std::vector<std::string>, test::RunResult> rows[] = {
        {{}, test::ran(usage, 1)}, {{"/dev/null", "/dev/null"}, test::ran(usage, 1)}, {{""}, test::ran(cannotOpen, 1)},
        {{dir + "missing"}, test::ran(cannotOpen, 1)}, {{dir}, test::ran(cannotOpen, 1)},
        {{"/dev/null"}, test::ran(cannotOpen, 1)}, {{dir + "fifo"}, test::ran(cannotOpen, 1)},
        {{dir + "dangling"}, test::ran(cannotOpen, 1)}, {{empty.path}, test::ran("\nNot an EBML File\n")},
        {{dir + "link"}, test::ran(test::readFile(test::dataPath("expected/ffmpeg_vp9_opus.webm.txt")))}};
    for (const auto& [args, result] : rows) {
        EXPECT_EQ(test::runTool(args), result) << testing::PrintToString(args);
    }
    const std::string full = QUORVEL_BINARY " '" + dir + "link' >/dev/full 2>'" + dir + "errors'";
    const int raw = std::system(full.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1 && test::readFile(dir + "errors").empty()) << raw;
}

constexpr std::uint32_t EBML_HEADER = 0x1A45DFA3, DOC_TYPE = 0x4282, SEGMENT = 0x18538067, TRACKS = 0x1654AE6B;
const test::Bytes version = test::element(0x4286, "\x01"), matroska = test::element(DOC_TYPE, "matroska");
// A Segment whose Tracks holds one Track Entry, found by walking the Segment.
const test::Bytes segment = test::master(SEGMENT, {test::master(TRACKS, {test::master(0xAE, {
    test::element(0xD7, "\x01"), test::element(0x86, "A_OPUS")})})});
const std::string listing = "SEEKHEAD not present\nSearching TRACKs manually... TRACKs found.\n\tTracks \n"
                            "\t\tTrack Entry \n\t\t\tTrack Number 1\n\t\t\tCodec Id A_OPUS\n";

// The prelude line and the file type. Only a DocType among the EBML header's children names the file's type, and it
// ends at its first zero byte.
TEST(Classification, PreludeAndFileType) {
    const test::Bytes docTypeRunningPast = test::id(EBML_HEADER) + test::size(version.size() + 4, 1) + version +
                                           matroska;  // the header's size ends inside the DocType
    const test::Bytes x(16384, 'x'), webm = test::ebmlHeader("webm");
    const std::string unknown = "\nUnknown EBML File\n", notEbml = "\nNot an EBML File\n", webmAlone = "\nWEBM\n"
                                "SEGMENT not present\n";
    const struct { const char* name; test::Bytes file; std::string expected; } cases[] = {
        {"a prelude", "hello" + webm, "Initial ASCII Text: hello" + webmAlone},
        {"a prelude cut at a zero byte", "A\0B"s + webm, "Initial ASCII Text: A" + webmAlone},
        {"a prelude longer than a read", x + "\0"s + x + webm, "Initial ASCII Text: " + x + webmAlone},
        {"no 0x1A at all", "\xFF\r\n\0def"s, "Initial ASCII Text: \xFF\r\n" + notEbml},
        {"an empty file", "", notEbml},
        {"an unknown ID at the first 0x1A byte", "\x1A\0\0\0\x80"s + test::master(SEGMENT, {}) + webm, notEbml},
        {"a DocType inside the header", test::master(EBML_HEADER, {version, matroska}) + segment,
         "\nMatroska File\n" + listing},
        {"a DocType with a zero byte at its end", test::ebmlHeader("matroska\0"s) + segment,
         "\nMatroska File\n" + listing},
        {"children in another order", test::master(EBML_HEADER, {test::element(0xEC, "\0"s),
            test::element(DOC_TYPE, "webm"), version}), webmAlone},
        {"an empty DocType", test::ebmlHeader("") + segment, unknown},
        {"a DocType in other letters", test::ebmlHeader("Matroska") + segment, unknown},
        {"a header without DocType, then a Segment", test::master(EBML_HEADER, {version}) + segment, unknown},
        {"a DocType right after a header of known size", test::master(EBML_HEADER, {version}) + matroska + segment,
         unknown},
        {"a DocType inside the Segment", test::master(EBML_HEADER, {version}) + test::master(SEGMENT, {matroska}),
         unknown},
        {"a DocType running past the header's end", docTypeRunningPast + segment, unknown},
        {"a header of unknown size, a DocType, then the Segment",
         test::unknownSizeMaster(EBML_HEADER, {version, matroska}) + segment, "\nMatroska File\n" + listing},
        {"a header of unknown size, then the Segment", test::unknownSizeMaster(EBML_HEADER, {version}) + segment,
         unknown},
        {"only a header without DocType", test::master(EBML_HEADER, {version}), unknown},
        {"a file cut inside the DocType", test::master(EBML_HEADER, {version, matroska}).substr(0, 14), unknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(test::runToolOn(c.file), test::ran(c.expected)) << c.name;
    }
}

// On a terminal, stored text that could drive it is shown escaped; a pipe gets every byte as stored. Names, numbers
// and hex values are never touched.
TEST(CommandLine, StoredTextCannotDriveATerminal) {
    const test::Bytes name = "A\x1B[31mRED\x07" "B", codecId = "\x1B]0;title\x07", prelude = "hi\x1B[2J\r\n";
    const test::Bytes file = prelude + test::master(EBML_HEADER, {version, matroska}) +
        test::master(SEGMENT, {test::master(TRACKS, {test::master(0xAE, {test::element(0x536E, name),
            test::element(0x86, codecId), test::element(0x258688, "\xE2\x82\xE2\x82\xAC 日本語\t!"),
            test::element(0x63A2, "\x1B\x07")})})});
    const std::string lines = "\nMatroska File\nSEEKHEAD not present\nSearching TRACKs manually... TRACKs found.\n"
                              "\tTracks \n\t\tTrack Entry \n\t\t\tName ";
    const std::string onTerminal = "Initial ASCII Text: hi\\x1B[2J\\x0D\\x0A" + lines + "A\\x1B[31mRED\\x07B\n"
        "\t\t\tCodec Id \\x1B]0;title\\x07\n\t\t\tCodec Name \\xE2\\x82€ 日本語\t!\n\t\t\tCodec Private 1B:07\n\n";
    const std::string onPipe = "Initial ASCII Text: " + prelude + lines + name + "\n\t\t\tCodec Id " + codecId +
        "\n\t\t\tCodec Name \xE2\x82\xE2\x82\xAC 日本語\t!\n\t\t\tCodec Private 1B:07\n\n";
    const test::TempFile input(file);
    EXPECT_EQ(test::runTool({input.path}), test::ran(onPipe));
    const std::optional<test::RunResult> run = test::runTool({input.path}, true);
    if (!run) GTEST_SKIP() << "no pseudo-terminal can be opened here";
    EXPECT_EQ(*run, test::ran(onTerminal));
}

// What the fuzzer keeps (its hand-built seeds, and every input that once failed) runs through the tool itself: each
// ends well within the time limit, with status 0 and nothing on standard error.
TEST(CommandLine, FuzzInputsRunCleanly) {
    std::size_t inputs = 0;
    for (const char* folder : {"/seeds", "/regressions"}) {
        for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_FUZZ_DIR + std::string(folder))) {
            const test::RunResult run = *test::runTool({entry.path().string()}, false, 10);
            EXPECT_EQ(std::make_pair(run.err, run.status), std::make_pair(std::string(), 0)) << entry.path();
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 7U);
}

}  // namespace
