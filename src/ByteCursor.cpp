#include "ByteCursor.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ios>

namespace {

constexpr std::uint64_t MAX_OFFSET = static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max());
// Header fields are at most 8 bytes long: those are read byte by byte from
// the get area rather than through the buffer's virtual block read.
constexpr std::uint64_t SHORT_READ = 8;
// A run of low bytes longer than this is read ahead in blocks.
constexpr int SHORT_RUN = 64;
constexpr std::size_t RUN_BLOCK = 16 * 1024;

}  // namespace

bool ByteCursor::read(std::uint8_t* destination, const std::uint64_t count) {
    if (count <= SHORT_READ) {
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto next = buffer.sbumpc();
            if (traits::eq_int_type(next, traits::eof())) {
                return false;
            }
            destination[i] = static_cast<std::uint8_t>(traits::to_char_type(next));
        }
        return true;
    }
    if (count > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    const auto wanted = static_cast<std::size_t>(count);
    return readUpTo(reinterpret_cast<char*>(destination), wanted) == wanted;
}

std::size_t ByteCursor::readUpTo(char* destination, const std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        const auto piece = static_cast<std::streamsize>(std::min<std::uint64_t>(count - done, MAX_OFFSET));
        const std::streamsize got = buffer.sgetn(destination + done, piece);
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void ByteCursor::back(const std::uint64_t count) {
    if (count > 0) {
        buffer.pubseekoff(-static_cast<std::streamoff>(count), std::ios_base::cur, std::ios_base::in);
    }
}

void ByteCursor::skip(const std::uint64_t count) {
    if (count <= atHand()) {
        buffer.pubseekoff(static_cast<std::streamoff>(count), std::ios_base::cur, std::ios_base::in);
        return;
    }
    const std::uint64_t here = position();
    const std::uint64_t last = endFrom(here);
    if (here >= last || count >= last - here) {
        seek(last);
    } else {
        buffer.pubseekoff(static_cast<std::streamoff>(count), std::ios_base::cur, std::ios_base::in);
    }
}

void ByteCursor::skipBytesBelow(const std::uint8_t ceiling, std::uint64_t maxCount) {
    // A short run is passed in the get area byte by byte. A long one (zero
    // bytes a download tool preallocated, say) is read ahead in blocks, eight
    // bytes tested at a time, and the cursor steps back to the byte that ends it.
    for (int i = 0; i < SHORT_RUN && maxCount > 0; ++i, --maxCount) {
        std::uint8_t byte = 0;
        if (!peek(byte) || byte >= ceiling) {
            return;
        }
        skipByte();
    }
    const std::uint64_t highBits = 0x0101010101010101ull * static_cast<std::uint8_t>(~(ceiling - 1u));
    std::array<char, RUN_BLOCK> block{};
    while (maxCount > 0) {
        const auto wanted = static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), maxCount));
        const std::streamsize got = buffer.sgetn(block.data(), wanted);
        if (got <= 0) {
            return;
        }
        const auto size = static_cast<std::size_t>(got);
        std::size_t passed = 0;
        for (std::uint64_t word = 0; passed + sizeof word <= size; passed += sizeof word) {
            std::memcpy(&word, block.data() + passed, sizeof word);
            if ((word & highBits) != 0) {
                break;
            }
        }
        while (passed < size && static_cast<std::uint8_t>(block[passed]) < ceiling) {
            ++passed;
        }
        if (passed < size) {
            buffer.pubseekoff(-static_cast<std::streamoff>(size - passed), std::ios_base::cur, std::ios_base::in);
            return;
        }
        maxCount -= size;
        if (got < wanted) {
            return;
        }
    }
}

std::uint64_t ByteCursor::position() {
    const std::streamoff here = buffer.pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    return here < 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(here);
}

void ByteCursor::seek(const std::uint64_t target) {
    if (target > MAX_OFFSET || buffer.pubseekpos(static_cast<std::streamoff>(target), std::ios_base::in) < 0) {
        buffer.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    }
}

std::uint64_t ByteCursor::end() {
    return endFrom(position());
}

std::uint64_t ByteCursor::endFrom(const std::uint64_t here) {
    const std::streamoff last = buffer.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    seek(here);
    return last < 0 ? here : static_cast<std::uint64_t>(last);
}

std::uint64_t ByteCursor::atHand() {
    return static_cast<std::uint64_t>(std::max<std::streamsize>(buffer.in_avail(), 0));
}

std::uint64_t ByteCursor::remaining() {
    const std::uint64_t here = position();
    const std::uint64_t last = endFrom(here);
    return here < last ? last - here : 0;
}
