#include "WindowedFileStream.h"

#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"

namespace {

// Whatever the window, it behaves exactly like a string stream (which cannot seek past its end, so no seek goes there).
TEST(WindowedFileStream, AgreesWithAPlainStream) {
    auto pick = [rng = std::mt19937(7)](int lo, int hi) mutable { return std::uniform_int_distribution(lo, hi)(rng); };
    const test::Bytes bytes = test::readFile(test::dataPath("ffmpeg_vp9_opus.webm")).substr(6000, 300);  // varied bytes
    const test::TempFile file(bytes);
    for (const std::size_t window : {1, 3, 64}) {  // reads cross refills or outgrow the window, seeks leave it
        WindowedFileStream stream(window);
        stream.open(file.path);
        std::istringstream plain(bytes);
        test::Bytes got(300, '\0'), expected(300, '\0');  // what was read, peeked or got
        for (int step = 0; step < 3000; ++step) {
            const int n = pick(0, pick(0, 1) != 0 ? 20 : 300), delta = pick(-20, 300 - static_cast<int>(plain.tellg()));
            switch (pick(0, 6)) {
                case 0: stream.seekg(n), plain.seekg(n); break;
                case 1: stream.seekg(delta, std::ios::cur), plain.seekg(delta, std::ios::cur); break;
                case 2: stream.seekg(-n, std::ios::end), plain.seekg(-n, std::ios::end); break;
                case 3: stream.read(got.data(), n), plain.read(expected.data(), n); break;
                case 4: stream.ignore(n), plain.ignore(n); break;
                case 5: got[0] = static_cast<char>(stream.peek()), expected[0] = static_cast<char>(plain.peek()); break;
                default: got[0] = static_cast<char>(stream.get()), expected[0] = static_cast<char>(plain.get()); break;
            }
            ASSERT_EQ(std::tuple(got, stream.gcount(), stream.rdstate(), stream.tellg()),
                std::tuple(expected, plain.gcount(), plain.rdstate(), plain.tellg())) << window << " " << step;
            if (!stream.good() && pick(0, 1) == 0) stream.clear(), plain.clear();
        }
    }
}

}  // namespace
