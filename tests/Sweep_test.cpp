// Every sample cut short at every byte through its Tracks and at a spread of places after it, and hundreds of
// damaged copies of each, inspected in process (the sanitizers watch these runs in CI).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "Quorvel.h"
#include "TestSupport.h"

namespace {

constexpr std::uint32_t EBML_HEADER = 0x1A45DFA3, SEGMENT = 0x18538067, TRACKS = 0x1654AE6B;

// Sends standard error to a file for the life of the object, and tells how much was written there.
class StderrCapture {
public:
    StderrCapture() : file(""), saved(dup(STDERR_FILENO)) {
        const int fd = open(file.path.c_str(), O_WRONLY | O_TRUNC);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrCapture() {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    off_t written() const {
        struct stat status {};
        return stat(file.path.c_str(), &status) == 0 ? status.st_size : -1;
    }

private:
    const test::TempFile file;
    const int saved;
};

// Runs the whole inspection on `bytes` as a file; its standard output. The output stream must stay good: the tool
// would otherwise end with status 1.
std::string inspect(const test::Bytes& bytes) {
    static const test::TempFile file("");
    std::filesystem::remove(file.path);  // truncating it in place makes some file systems flush it on close
    std::ofstream(file.path, std::ios::binary) << bytes;
    const test::CoutCapture output;
    Quorvel quorvel;
    EXPECT_TRUE(quorvel.OpenFile(file.path));
    quorvel.Process();
    EXPECT_TRUE(std::cout.good()) << bytes.size() << " bytes";
    return output.text();
}

// The width a size field's first byte announces (1 to 8), 0 for the byte 0x00.
std::size_t sizeWidth(const unsigned char first) {
    for (std::size_t width = 1; width <= 8; ++width) {
        if ((first & (0x80u >> (width - 1))) != 0) return width;
    }
    return 0;
}

// Decodes the ID or size field at `at` and moves past it; false when the bytes end first or hold no field.
bool field(const test::Bytes& bytes, std::size_t& at, std::uint64_t& value, bool keepMarker) {
    if (at >= bytes.size()) return false;
    const std::size_t width = sizeWidth(static_cast<unsigned char>(bytes[at]));
    if (width == 0 || bytes.size() - at < width) return false;
    value = keepMarker ? 0 : static_cast<unsigned char>(bytes[at]) & (0xFFu >> width);
    for (std::size_t i = keepMarker ? 0 : 1; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    at += width;
    return true;
}

// Where the Segment's Tracks element ends, found by walking the Segment's children by their sizes; 0 when the
// bytes hold no whole Tracks.
std::size_t tracksEnd(const test::Bytes& bytes) {
    std::size_t at = bytes.find(test::id(EBML_HEADER));
    std::uint64_t id = 0, size = 0;
    if (at == test::Bytes::npos || !field(bytes, at, id, true) || !field(bytes, at, size, false)) return 0;
    at += size;
    if (!field(bytes, at, id, true) || id != SEGMENT || !field(bytes, at, size, false)) return 0;
    while (field(bytes, at, id, true) && field(bytes, at, size, false) && size <= bytes.size() - at) {
        if (id == TRACKS) return at + size;
        at += size;
    }
    return 0;
}

// The Tracks listing: the output from its first line on.
std::string tracksLines(const std::string& output) {
    const std::size_t first = output.find("\n\tTracks \n");
    return first == std::string::npos ? std::string() : output.substr(first + 1);
}

// One to three damages, half of them in front of `head`: a bit flip; a run of random bytes or of another part of
// the file inserted, deleted or written over; or a known element's size made "not known" (all ones) or huge.
test::Bytes mutate(test::Bytes bytes, const std::size_t head, std::mt19937 rng) {
    const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const std::uint32_t ids[] = {EBML_HEADER, 0x4282, SEGMENT, 0x114D9B74, 0x4DBB, TRACKS, 0xAE, 0xE1, 0x63A2};
    const std::size_t rounds = 1 + pick(3);
    for (std::size_t round = 0; round < rounds && !bytes.empty(); ++round) {
        const std::size_t at = pick(pick(2) == 0 ? std::min(head, bytes.size()) : bytes.size());
        test::Bytes run = bytes.substr(pick(bytes.size()), 1 + pick(32));
        if (pick(2) == 0) {
            for (char& byte : run) byte = static_cast<char>(pick(256));
        }
        const std::size_t kind = pick(6);
        if (kind == 0) bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
        if (kind == 1) bytes.insert(at, run);
        if (kind == 2) bytes.erase(at, run.size());
        if (kind == 3) bytes.replace(at, run.size(), run);
        if (kind < 4) continue;
        const test::Bytes id = test::id(ids[pick(std::size(ids))]);
        const std::size_t idAt = bytes.find(id, at);
        const std::size_t sizeAt = idAt == test::Bytes::npos ? bytes.size() : idAt + id.size();
        const std::size_t width = sizeAt < bytes.size() ? sizeWidth(static_cast<unsigned char>(bytes[sizeAt])) : 0;
        if (width == 0 || bytes.size() - sizeAt < width) continue;
        const std::size_t newWidth = pick(2) == 0 ? 8 : width;
        const std::uint64_t allOnes = (1ull << (7 * newWidth)) - 1;
        bytes.replace(sizeAt, width, test::size(kind == 4 ? allOnes : allOnes >> (1 + pick(7 * newWidth - 1)),
                                                static_cast<int>(newWidth)));
    }
    return bytes;
}

TEST(Sweep, SamplesCutShortAndDamaged) {
    const StderrCapture errors;
    std::size_t checkedPrefixes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_DATA_DIR)) {
        if (entry.path().extension() != ".mkv" && entry.path().extension() != ".webm") continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        const test::Bytes bytes = test::readFile(entry.path());
        const std::string listing = tracksLines(test::readFile(test::dataPath("expected/" + name + ".txt")));
        const std::size_t whole = tracksEnd(bytes);
        // Every cut through the first 6000 bytes (past the end of every sample's Tracks), then 64 more.
        const std::size_t dense = std::min<std::size_t>(bytes.size(), 6000), step = 1 + (bytes.size() - dense) / 64;
        for (std::size_t n = 0; n <= bytes.size(); n += n < dense ? 1 : step) {
            const std::string output = inspect(bytes.substr(0, n));
            ASSERT_EQ(errors.written(), 0) << "cut at " << n;
            if (whole != 0 && n >= whole) {
                ASSERT_EQ(tracksLines(output), listing) << "cut at " << n << ", after the end of Tracks at " << whole;
                ++checkedPrefixes;
            }
        }
        const std::size_t head = whole != 0 ? whole : bytes.size();
        for (unsigned seed = 0; seed < 500; ++seed) {
            inspect(mutate(bytes, head, std::mt19937(seed)));
            ASSERT_EQ(errors.written(), 0) << "mutant " << seed;
        }
    }
    EXPECT_GT(checkedPrefixes, 10000U);  // every sample with a whole Tracks took part
}

}  // namespace
