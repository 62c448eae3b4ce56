#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "MatroskaReader.h"
#include "TestSupport.h"

namespace {

using namespace QuorvelGlobals;

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
    const std::tuple<std::uint32_t, std::string, int, ElementType> rows[] = {
        {0x1A45DFA3, "EbmlReader HEADER", 0, MASTER}, {0x4282, "Document Type following EBML header", 1, STRING},
        {0x536E, "Name", 3, UTF8}, {0x23314F, "Track Timecode Scale", 3, FLOAT}, {0x1F43B675, "Cluster", 1, MASTER},
        {0x56BB, "SeekPreRoll", 3, UNSIGNED_INTEGER}, {0x47E7, "ContentEncAESSettings", 6, MASTER}};
    for (const auto& [id, name, level, type] : rows) {
        const Info& info = other.at(id);  // throws when it is missing
        EXPECT_EQ(std::tie(info.name, info.level, info.type), std::tie(name, level, type)) << std::hex << id;
    }
}

// Only a regular file, links followed, is inspected: a directory would read as empty and a FIFO could block the run.
// Output that cannot be written fails the run, still without a word on standard error.
TEST(CommandLine, WhatIsInspectedAndExitStatus) {
    const std::string usage = "Please insert just one command line argument, indicating the file path.\n";
    const std::string cannotOpen = "Could not open file. Please check path and permissions.\n";
    const test::TempFile empty("");
    const auto quoted = [&empty](const std::string& name) { return "'" + empty.dir + "/" + name + "'"; };
    ASSERT_EQ(mkfifo((empty.dir + "/fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink(empty.dir + "/nowhere", empty.dir + "/dangling");
    std::filesystem::create_symlink(test::dataPath("ffmpeg_vp9_opus.webm"), empty.dir + "/link");
    const std::tuple<std::string, std::string, int> rows[] = {{"", usage, 1}, {"/dev/null /dev/null", usage, 1},
        {"''", cannotOpen, 1}, {quoted("missing"), cannotOpen, 1}, {quoted(""), cannotOpen, 1},
        {"/dev/null", cannotOpen, 1}, {quoted("fifo"), cannotOpen, 1}, {quoted("dangling"), cannotOpen, 1},
        {quoted("input.mkv"), "\nNot an EBML File\n", 0},
        {quoted("link"), test::readFile(test::dataPath("expected/ffmpeg_vp9_opus.webm.txt")), 0}};
    for (const auto& [args, out, status] : rows) {
        EXPECT_EQ(test::runTool(args), test::ran(out, status)) << args;
    }
    const int raw = std::system((QUORVEL_BINARY " " + quoted("link") + " >/dev/full 2>" + quoted("errors")).c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1 && test::readFile(empty.dir + "/errors").empty()) << raw;
}

// What the fuzzer keeps (its hand-built seeds, and every input that once failed) runs through the tool itself: each
// ends well within the time limit, with status 0 and nothing on standard error.
TEST(CommandLine, FuzzInputsRunCleanly) {
    std::size_t inputs = 0;
    for (const char* folder : {"/seeds", "/regressions"}) {
        for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_FUZZ_DIR + std::string(folder))) {
            const test::RunResult run = test::runTool("'" + entry.path().string() + "'", 10);
            EXPECT_EQ(std::make_pair(run.err, run.status), std::make_pair(std::string(), 0)) << entry.path();
            ++inputs;
        }
    }
    EXPECT_GE(inputs, 7U);
}

}  // namespace
