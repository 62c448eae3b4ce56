#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Quorvel.h"
#include "TestSupport.h"

namespace {

void inspect(const test::Bytes& bytes) {
    static const test::TempFile file("");
    std::filesystem::remove(file.path);  // truncating it in place makes some file systems flush it on close
    std::ofstream(file.path, std::ios::binary) << bytes;
    const test::CoutCapture output;
    Quorvel quorvel;
    ASSERT_TRUE(quorvel.OpenFile(file.path));
    quorvel.Process();
    ASSERT_TRUE(std::cout.good()) << "the tool would exit with status 1 on " << bytes.size() << " bytes";
}

// One to three damages, half of them in front of `head`: a bit flip; a run of random bytes or of another part of
// the file inserted, deleted or written over; or a known element's size made "not known" (all ones) or huge.
test::Bytes mutate(test::Bytes bytes, const std::size_t head, std::mt19937 rng) {
    const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    const std::uint32_t ids[] = {0x1A45DFA3, 0x4282, 0x18538067, 0x114D9B74, 0x4DBB, 0x1654AE6B, 0xAE, 0xE1, 0x63A2};
    for (std::size_t round = pick(3); round < 3; ++round) {
        const std::size_t at = pick(pick(2) != 0 ? std::min(head, bytes.size()) : bytes.size()), kind = pick(6);
        test::Bytes run = bytes.substr(pick(bytes.size()), 1 + pick(32));
        if (pick(2) != 0) std::generate(run.begin(), run.end(), [&pick] { return static_cast<char>(pick(256)); });
        if (kind == 0) bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
        if (kind >= 1 && kind <= 3) bytes.replace(at, kind == 1 ? 0 : run.size(), kind == 2 ? "" : run);
        const test::Bytes id = test::id(ids[pick(std::size(ids))]);
        const std::size_t where = bytes.find(id, at) + id.size();  // below id.size() when there is none
        if (kind < 4 || where < id.size() || where >= bytes.size()) continue;  // width: leading zero bits + 1
        const int old = __builtin_clz(static_cast<unsigned char>(bytes[where]) | 1u) - 23, width = pick(2) ? 8 : old;
        bytes.replace(where, old, test::size(((1ull << (7 * width)) - 1) >> (kind == 4 ? 0 : pick(7 * width)), width));
    }
    return bytes;
}

// Every prefix through the end of Tracks (byte 5069 at the latest here), a spread after, mutants; sanitizers watch.
TEST(Sweep, EverySamplePrefixThroughTracksASpreadAfterAndSeededMutants) {
    for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_DATA_DIR)) {
        if (entry.path().extension() != ".mkv" && entry.path().extension() != ".webm") continue;
        SCOPED_TRACE(entry.path().filename());
        const test::Bytes bytes = test::readFile(entry.path());
        const std::size_t end = std::min<std::size_t>(bytes.size(), 6000), step = 1 + (bytes.size() - end) / 64;
        for (std::size_t n = 0; n <= bytes.size(); n += n < end ? 1 : step) inspect(bytes.substr(0, n));
        const std::size_t head = bytes.rfind(test::id(0x1654AE6B)) + 1024;  // a little past the start of Tracks
        for (unsigned seed = 0; seed < 500; ++seed) inspect(mutate(bytes, head, std::mt19937(seed)));
    }
}

}  // namespace
