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
// What std::streambuf shows only to the buffers derived from it: the get
// area. The cursor reads a run of bytes in place rather than copying it out.
struct GetArea : std::streambuf {
    static const char* next(const std::streambuf& buffer) { return (buffer.*&GetArea::gptr)(); }
    static const char* last(const std::streambuf& buffer) { return (buffer.*&GetArea::egptr)(); }
    static void bump(std::streambuf& buffer, const int count) { (buffer.*&GetArea::gbump)(count); }
};

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
    // The run is passed where the buffer holds it, eight bytes tested at a
    // time (zero bytes a download tool preallocated can fill gigabytes).
    const std::uint64_t highBits = 0x0101010101010101ull * static_cast<std::uint8_t>(~(ceiling - 1u));
    while (maxCount > 0) {
        const auto [bytes, count] = held();
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(count, maxCount));
        if (size == 0) {
            return;
        }
        std::size_t passed = 0;
        for (std::uint64_t word = 0; passed + sizeof word <= size; passed += sizeof word) {
            std::memcpy(&word, bytes + passed, sizeof word);
            if ((word & highBits) != 0) {
                break;
            }
        }
        while (passed < size && static_cast<std::uint8_t>(bytes[passed]) < ceiling) {
            ++passed;
        }
        consume(passed);
        if (passed < size) {
            return;
        }
        maxCount -= size;
    }
}

std::pair<const char*, std::size_t> ByteCursor::held() {
    if (traits::eq_int_type(buffer.sgetc(), traits::eof())) {
        return {nullptr, 0};
    }
    const char* const next = GetArea::next(buffer);
    return {next, static_cast<std::size_t>(GetArea::last(buffer) - next)};
}

void ByteCursor::consume(std::size_t count) {
    // A get area holds far fewer bytes than an int counts; bumped in pieces all the same.
    constexpr auto most = static_cast<std::size_t>(std::numeric_limits<int>::max());
    for (; count > most; count -= most) {
        GetArea::bump(buffer, static_cast<int>(most));
    }
    GetArea::bump(buffer, static_cast<int>(count));
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
