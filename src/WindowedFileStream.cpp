#include "WindowedFileStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t MAX_OFFSET = static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max());

}  // namespace

WindowedFileBuffer::WindowedFileBuffer(const std::size_t windowSize) : window(std::max<std::size_t>(windowSize, 1)) {
    setg(window.data(), window.data(), window.data());
}

bool WindowedFileBuffer::open(const std::filesystem::path& path) {
    if (file.is_open()) {
        return false;
    }
    // Unbuffered: every refill reads straight into the window.
    file.pubsetbuf(nullptr, 0);
    if (file.open(path, std::ios_base::in | std::ios_base::binary) == nullptr) {
        return false;
    }
    const std::streamoff end = file.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    if (end < 0) {
        file.close();
        return false;
    }
    fileSize = static_cast<std::uint64_t>(end);
    windowStart = 0;
    windowFill = 0;
    detached = false;
    setg(window.data(), window.data(), window.data());
    return true;
}

bool WindowedFileBuffer::close() {
    windowFill = 0;
    windowStart = 0;
    detached = false;
    fileSize = 0;
    setg(window.data(), window.data(), window.data());
    return file.close() != nullptr;
}

std::uint64_t WindowedFileBuffer::position() const {
    return detached ? detachedPosition : windowStart + static_cast<std::uint64_t>(gptr() - eback());
}

void WindowedFileBuffer::moveTo(const std::uint64_t target) {
    char* const begin = window.data();
    if (target >= windowStart && target - windowStart <= windowFill) {
        detached = false;
        setg(begin, begin + (target - windowStart), begin + windowFill);
    } else {
        detached = true;
        detachedPosition = target;
        setg(begin, begin, begin);
    }
}

std::size_t WindowedFileBuffer::readAt(const std::uint64_t offset, char* destination, const std::size_t count) {
    if (!file.is_open() || offset >= fileSize || count == 0) {
        return 0;
    }
    if (file.pubseekpos(static_cast<std::streamoff>(offset), std::ios_base::in) < 0) {
        return 0;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileSize - offset));
    std::size_t got = 0;
    while (got < wanted) {
        const std::streamsize n = file.sgetn(destination + got, static_cast<std::streamsize>(wanted - got));
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

WindowedFileBuffer::int_type WindowedFileBuffer::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    const std::uint64_t at = position();
    std::uint64_t start = at;
    if (windowFill > 0 && at < windowStart && windowStart - at <= window.size()) {
        // Stepping back just in front of the window (returning through a chain
        // of lists, say): keep the bytes before the position in the new window
        // too, so that the next step back is served from it.
        const std::uint64_t lead = window.size() / 2;
        start = at > lead ? at - lead : 0;
    }
    const std::size_t got = readAt(start, window.data(), window.size());
    if (got <= at - start) {
        // Keep the position; the window keeps nothing useful any more.
        windowStart = at;
        windowFill = 0;
        moveTo(at);
        return traits_type::eof();
    }
    windowStart = start;
    windowFill = got;
    detached = false;
    setg(window.data(), window.data() + (at - start), window.data() + got);
    return traits_type::to_int_type(*gptr());
}

std::streamsize WindowedFileBuffer::xsgetn(char_type* destination, const std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        const std::streamsize available = egptr() - gptr();
        if (available > 0) {
            const std::streamsize n = std::min(available, count - done);
            std::memcpy(destination + done, gptr(), static_cast<std::size_t>(n));
            gbump(static_cast<int>(n));
            done += n;
            continue;
        }
        const std::uint64_t left = static_cast<std::uint64_t>(count - done);
        if (left >= window.size()) {
            // A large read bypasses the window instead of copying through it.
            const std::uint64_t at = position();
            const std::size_t got = readAt(at, destination + done, static_cast<std::size_t>(left));
            done += static_cast<std::streamsize>(got);
            moveTo(at + got);
            break;
        }
        if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
            break;
        }
    }
    return done;
}

WindowedFileBuffer::pos_type WindowedFileBuffer::seekoff(const off_type offset, const std::ios_base::seekdir direction,
                                                         const std::ios_base::openmode which) {
    if ((which & std::ios_base::in) == 0 || !file.is_open()) {
        return pos_type(off_type(-1));
    }
    std::uint64_t base = 0;
    if (direction == std::ios_base::cur) {
        base = position();
    } else if (direction == std::ios_base::end) {
        base = fileSize;
    }
    if (offset < 0 ? static_cast<std::uint64_t>(-(offset + 1)) + 1 > base
                   : static_cast<std::uint64_t>(offset) > MAX_OFFSET - base) {
        return pos_type(off_type(-1));
    }
    const std::uint64_t target = offset < 0 ? base - (static_cast<std::uint64_t>(-(offset + 1)) + 1)
                                            : base + static_cast<std::uint64_t>(offset);
    if (offset != 0 || direction != std::ios_base::cur) {
        moveTo(target);
    }
    return pos_type(static_cast<off_type>(target));
}

WindowedFileBuffer::pos_type WindowedFileBuffer::seekpos(const pos_type position, const std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

std::streamsize WindowedFileBuffer::showmanyc() {
    const std::uint64_t at = position();
    if (!file.is_open() || at >= fileSize) {
        return -1;
    }
    return static_cast<std::streamsize>(std::min<std::uint64_t>(fileSize - at, MAX_OFFSET));
}

WindowedFileStream::WindowedFileStream(const std::size_t windowSize) : std::istream(nullptr), buffer(windowSize) {
    init(&buffer);
}

void WindowedFileStream::open(const std::filesystem::path& path) {
    if (buffer.open(path)) {
        clear();
    } else {
        setstate(std::ios_base::failbit);
    }
}

void WindowedFileStream::close() {
    if (!buffer.close()) {
        setstate(std::ios_base::failbit);
    }
}
