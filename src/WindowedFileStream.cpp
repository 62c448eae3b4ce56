#include "WindowedFileStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::uint64_t MAX_OFFSET = static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max());
// Where the EBML data starts: the first byte of the header's ID.
constexpr char EBML_START = 0x1A;

}  // namespace

WindowedFileBuffer::WindowedFileBuffer(const std::size_t windowSize, const std::size_t heldFront,
                                       const std::size_t heldBack)
    : windowSize(std::max<std::size_t>(windowSize, 1)),
      heldFront(heldFront),
      heldBack(std::max<std::size_t>(heldBack, 1)) {
    setg(nullptr, nullptr, nullptr);
}

WindowedFileBuffer::~WindowedFileBuffer() {
    Platform::closeInput(input);
}

bool WindowedFileBuffer::open(const std::string& argument) {
    if (is_open() || !Platform::openInput(argument, input)) {
        return false;
    }
    forget();
    if (input.file) {
        // A window no larger than the file: a small file is read whole, and
        // no memory is set aside that it could never fill.
        fileSize = input.size;
        window.resize(static_cast<std::size_t>(std::clamp<std::uint64_t>(fileSize, 1, windowSize)));
        // A run that needs only the front of the file then has the system
        // copy (and find memory for) two pages rather than the whole window;
        // every later read fills the window.
        reach = std::min(window.size(), FIRST_READ);
    } else {
        // The last bytes read start small and grow to `heldBack` as the
        // stream goes on: a short stream costs a short buffer.
        window.resize(std::min(windowSize, heldBack));
    }
    setg(window.data(), window.data(), window.data());
    return true;
}

bool WindowedFileBuffer::close() {
    const bool wasOpen = is_open();
    const bool closed = Platform::closeInput(input);
    forget();
    window = ByteBuffer();
    front = ByteBuffer();
    setg(nullptr, nullptr, nullptr);
    return wasOpen && closed;
}

void WindowedFileBuffer::forget() {
    areaStart = 0;
    detached = false;
    detachedPosition = 0;
    fileSize = 0;
    windowStart = 0;
    windowFill = 0;
    descriptorAt = 0;
    front.clear();
    frontStart = 0;
    frontFound = false;
    received = 0;
    ended = false;
}

std::uint64_t WindowedFileBuffer::position() const {
    return detached ? detachedPosition : areaStart + static_cast<std::uint64_t>(gptr() - eback());
}

std::uint64_t WindowedFileBuffer::end() const {
    if (input.file) {
        return fileSize;
    }
    // Where a stream ends is known once it has ended; until then its end is
    // the farthest position there is.
    return ended ? received : MAX_OFFSET;
}

void WindowedFileBuffer::moveTo(const std::uint64_t target) {
    const auto areaSize = static_cast<std::uint64_t>(egptr() - eback());
    if (target >= areaStart && target - areaStart <= areaSize && eback() != nullptr) {
        detached = false;
        setg(eback(), eback() + (target - areaStart), egptr());
    } else {
        detached = true;
        detachedPosition = target;
        setg(eback(), egptr(), egptr());
    }
}

void WindowedFileBuffer::show(char* const base, const std::uint64_t baseAt, const std::uint64_t from,
                              const std::uint64_t at, const std::uint64_t to) {
    areaStart = from;
    detached = false;
    setg(base + (from - baseAt), base + (at - baseAt), base + (to - baseAt));
}

WindowedFileBuffer::int_type WindowedFileBuffer::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    if (!is_open()) {
        return traits_type::eof();
    }
    const std::uint64_t at = position();
    return input.file ? underflowFile(at) : underflowStream(at);
}

// ---- files ------------------------------------------------------------------

std::size_t WindowedFileBuffer::readAt(const std::uint64_t offset, char* destination, const std::size_t count) {
    if (offset >= fileSize || count == 0) {
        return 0;
    }
    if (offset != descriptorAt) {
        if (!Platform::seekInput(input, offset)) {
            return 0;
        }
        descriptorAt = offset;
    }
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(count, fileSize - offset));
    std::size_t got = 0;
    while (got < wanted) {
        const std::size_t n = Platform::readInput(input, destination + got, wanted - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    descriptorAt += got;
    return got;
}

WindowedFileBuffer::int_type WindowedFileBuffer::underflowFile(const std::uint64_t at) {
    std::uint64_t start = at;
    if (windowFill > 0 && at < windowStart && windowStart - at <= window.size()) {
        // Stepping back just in front of the window (returning through a chain
        // of lists, say): keep the bytes before the position in the new window
        // too, so that the next step back is served from it.
        const std::uint64_t lead = window.size() / 2;
        start = at > lead ? at - lead : 0;
    }
    const std::size_t got = readAt(start, window.data(), reach);
    reach = window.size();
    if (got <= at - start) {
        // Keep the position; the window keeps nothing useful any more.
        windowStart = at;
        windowFill = 0;
        show(window.data(), at, at, at, at);
        moveTo(at);
        return traits_type::eof();
    }
    windowStart = start;
    windowFill = got;
    show(window.data(), start, start, at, start + got);
    return traits_type::to_int_type(*gptr());
}

// ---- streams ----------------------------------------------------------------

bool WindowedFileBuffer::pull() {
    if (ended) {
        return false;
    }
    if (received == window.size() && window.size() < heldBack) {
        // Full before it wraps for the first time: every byte is still at
        // its own position, and stays there in the larger buffer.
        window.resize(std::min(heldBack, 2 * window.size()));
    }
    const std::size_t ring = window.size();
    const auto slot = static_cast<std::size_t>(received % ring);
    char* const place = window.data() + slot;
    const std::size_t got = Platform::readInput(input, place, ring - slot);
    if (got == 0) {
        ended = true;
        return false;
    }
    keepFront(place, got);
    received += got;
    return true;
}

void WindowedFileBuffer::keepFront(const char* const bytes, const std::size_t count) {
    std::size_t from = 0;
    if (!frontFound) {
        const auto* const start = static_cast<const char*>(std::memchr(bytes, EBML_START, count));
        if (start == nullptr) {
            return;
        }
        from = static_cast<std::size_t>(start - bytes);
        frontFound = true;
        frontStart = received + from;
    }
    const std::size_t take = std::min(count - from, heldFront - front.size());
    if (front.size() + take > front.capacity()) {
        // Grown here, between reads, where no get area points into it.
        front.reserve(std::min(heldFront, std::max(front.size() + take, 2 * front.capacity())));
    }
    front.insert(front.end(), bytes + from, bytes + from + take);
}

WindowedFileBuffer::int_type WindowedFileBuffer::underflowStream(const std::uint64_t at) {
    // Forward of the frontier: read up to there.
    while (at >= received && at < MAX_OFFSET && pull()) {
    }
    const std::uint64_t ring = window.size();
    const std::uint64_t backFrom = received > ring ? received - ring : 0;
    if (at >= backFrom && at < received) {
        // The ring from `at` on, up to its physical end or the frontier.
        const std::uint64_t base = at - at % ring;
        show(window.data(), base, std::max(backFrom, base), at, std::min<std::uint64_t>(received, base + ring));
        return traits_type::to_int_type(*gptr());
    }
    if (frontFound && at >= frontStart && at - frontStart < front.size()) {
        show(front.data(), frontStart, frontStart, at, frontStart + front.size());
        return traits_type::to_int_type(*gptr());
    }
    // The end, or a position no longer held: it reads as the end. The get
    // area is dropped: a read above may have moved the buffers it showed.
    detached = true;
    detachedPosition = at;
    setg(nullptr, nullptr, nullptr);
    return traits_type::eof();
}

// ---- both -------------------------------------------------------------------

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
        const auto left = static_cast<std::uint64_t>(count - done);
        if (input.file && left >= window.size()) {
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
    if ((which & std::ios_base::in) == 0 || !is_open()) {
        return pos_type(off_type(-1));
    }
    std::uint64_t base = 0;
    if (direction == std::ios_base::cur) {
        base = position();
    } else if (direction == std::ios_base::end) {
        base = end();
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
    if (!is_open() || at >= end()) {
        return -1;
    }
    if (!input.file) {
        return 0;  // a stream cannot tell without waiting
    }
    return static_cast<std::streamsize>(std::min<std::uint64_t>(fileSize - at, MAX_OFFSET));
}

WindowedFileStream::WindowedFileStream(const std::size_t windowSize, const std::size_t heldFront,
                                       const std::size_t heldBack)
    : std::istream(nullptr), buffer(windowSize, heldFront, heldBack) {
    init(&buffer);
}

void WindowedFileStream::open(const std::string& argument) {
    if (buffer.open(argument)) {
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
