// Every sample cut short at every byte through its Tracks and at a spread of places after it, and hundreds of
// damaged copies of each, inspected in process (the sanitizers watch these runs in CI).

#include <algorithm>
#include <random>
#include <sstream>

#include "Quorvel.h"
#include "TestSupport.h"

namespace {

using test::Bytes;

// Runs the whole inspection on `bytes` as a file: its standard output, which must stay good (or the status is 1).
std::string inspect(const Bytes& bytes) {
    static const test::TempFile file("");
    std::filesystem::remove(file.path);  // truncating it in place makes some file systems flush it on close
    std::ofstream(file.path, std::ios::binary) << bytes;
    std::ostringstream output;
    std::streambuf* const standardOutput = std::cout.rdbuf(output.rdbuf());
    Quorvel quorvel;
    EXPECT_TRUE(quorvel.OpenFile(file.path));
    quorvel.Process();
    EXPECT_TRUE(std::cout.good()) << bytes.size() << " bytes";
    std::cout.rdbuf(standardOutput);
    return output.str();
}

// The size field at `at`, decoded here rather than by the code under test: its width (0: none there), its value.
std::pair<std::size_t, std::uint64_t> sizeField(const Bytes& bytes, const std::size_t at) {
    std::size_t width = 1;
    while (at < bytes.size() && width <= 8 && (static_cast<std::uint8_t>(bytes[at]) & (0x100u >> width)) == 0) ++width;
    if (at >= bytes.size() || width > 8 || bytes.size() - at < width) return {0, 0};
    std::uint64_t value = static_cast<std::uint8_t>(bytes[at]) & (0xFFu >> width);
    for (std::size_t i = 1; i < width; ++i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return {width, value};
}

// Where a sample's Tracks element ends: its ID is the first one that is not the value of a SeekID (53 AB 84 in
// front of it). 0 when the bytes hold no whole Tracks.
std::size_t tracksEnd(const Bytes& bytes) {
    const Bytes tracksId = test::uint(test::TRACKS);
    std::size_t at = bytes.find(tracksId);
    while (at != Bytes::npos && at >= 3 && bytes.compare(at - 3, 3, "\x53\xAB\x84") == 0) {
        at = bytes.find(tracksId, at + 1);
    }
    const auto [width, size] = sizeField(bytes, at == Bytes::npos ? bytes.size() : at + tracksId.size());
    const std::size_t content = at + tracksId.size() + width;
    return width != 0 && size <= bytes.size() - content ? content + size : 0;
}

std::string tracksLines(const std::string& output) {
    const std::size_t first = output.find("\n\tTracks \n");
    return first == std::string::npos ? std::string() : output.substr(first + 1);
}

// One to three damages, half of them in front of `head`: a bit flip; a run of random bytes or of another part of
// the file inserted, deleted or written over; or a known element's size made "not known" (all ones) or huge.
Bytes damage(Bytes bytes, const std::size_t head, std::mt19937 rng) {
    const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const std::uint32_t ids[] = {0x1A45DFA3, 0x4282, 0x18538067, 0x114D9B74, 0x4DBB, 0x1654AE6B, 0xAE, 0xE1, 0x63A2};
    for (std::size_t round = 0, rounds = 1 + pick(3); round < rounds && !bytes.empty(); ++round) {
        const std::size_t at = pick(pick(2) == 0 ? std::min(head, bytes.size()) : bytes.size()), kind = pick(6);
        Bytes run = bytes.substr(pick(bytes.size()), 1 + pick(32));
        if (pick(2) == 0) std::generate(run.begin(), run.end(), [&pick] { return static_cast<char>(pick(256)); });
        if (kind == 0) bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
        if (kind == 1) bytes.insert(at, run);
        if (kind == 2) bytes.erase(at, run.size());
        if (kind == 3) bytes.replace(at, run.size(), run);
        if (kind < 4) continue;
        const Bytes id = test::uint(ids[pick(std::size(ids))]);
        const std::size_t idAt = bytes.find(id, at), sizeAt = idAt == Bytes::npos ? bytes.size() : idAt + id.size();
        const std::size_t width = sizeField(bytes, sizeAt).first;
        if (width == 0) continue;
        const std::size_t newWidth = pick(2) == 0 ? 8 : width;
        const std::uint64_t allOnes = (1ull << (7 * newWidth)) - 1;
        const std::uint64_t size = kind == 4 ? allOnes : allOnes >> (1 + pick(7 * newWidth - 1));
        bytes.replace(sizeAt, width, test::size(size, static_cast<int>(newWidth)));
    }
    return bytes;
}

TEST(Sweep, SamplesCutShortAndDamaged) {
    testing::internal::CaptureStderr();  // for the whole sweep: nothing may be written there
    std::size_t checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_DATA_DIR)) {
        if (entry.path().extension() != ".mkv" && entry.path().extension() != ".webm") continue;
        const std::string name = entry.path().filename().string();
        const Bytes bytes = test::readFile(entry.path());
        const std::string listing = tracksLines(test::readFile(test::dataPath("expected/" + name + ".txt")));
        const std::size_t whole = tracksEnd(bytes);
        // Every cut through the first 6000 bytes (past the end of every sample's Tracks), then 64 more.
        const std::size_t dense = std::min<std::size_t>(bytes.size(), 6000), step = 1 + (bytes.size() - dense) / 64;
        for (std::size_t n = 0; n <= bytes.size(); n += n < dense ? 1 : step) {
            const std::string output = inspect(bytes.substr(0, n));
            if (whole == 0 || n < whole) continue;
            EXPECT_EQ(tracksLines(output), listing) << name << " cut at " << n << ", after Tracks ends at " << whole;
            ++checked;
        }
        const std::size_t head = whole != 0 ? whole : bytes.size();
        for (unsigned seed = 0; seed < 500; ++seed) inspect(damage(bytes, head, std::mt19937(seed)));
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_GT(checked, 10000U);  // every sample with a whole Tracks took part
}

}  // namespace
