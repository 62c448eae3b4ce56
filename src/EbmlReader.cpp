#include "EbmlReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iostream>
#include <limits>

#include "ByteUtilities.h"

using namespace QuorvelGlobals;

ElementDictionary EbmlReader::globalDict;
ElementDictionary EbmlReader::notGlobalDict;

namespace {

constexpr ElementTableRow GLOBAL_TABLE[] = {
    {Ebml::VOID_ELEMENT, "Void", GLOBAL_LEVEL, BINARY},
    {0xBF, "CRC32", GLOBAL_LEVEL, BINARY},
    {0x1B538667, "SignatureSlot", GLOBAL_LEVEL, MASTER},
};

constexpr ElementTableRow HEADER_TABLE[] = {
    {Ebml::HEADER, "EbmlReader HEADER", 0, MASTER},
    {0x4286, "EbmlReader Version", 1, UNSIGNED_INTEGER},
    {0x42F7, "Minimum EbmlReader Version required for parser", 1, UNSIGNED_INTEGER},
    {0x42F2, "Maximum ID Length", 1, UNSIGNED_INTEGER},
    {0x42F3, "Maximum Size Length", 1, UNSIGNED_INTEGER},
    {Ebml::DOC_TYPE, "Document Type following EBML header", 1, STRING},
    {0x4287, "DocTypeVersion", 1, UNSIGNED_INTEGER},
    {0x4285, "DocTypeReadVersion", 1, UNSIGNED_INTEGER},
};

constexpr std::size_t PRELUDE_CHUNK = 16 * 1024;
// The longest ID or size field.
constexpr std::uint64_t HEADER_FIELD_MAX = 8;

}  // namespace

void EbmlReader::create_ebml_dict() {
    storeRows(globalDict, GLOBAL_TABLE);
    storeRows(notGlobalDict, HEADER_TABLE);
}

// ---- stream vocabulary ----------------------------------------------------

// The reader talks to the stream's buffer directly: the buffer keeps no error
// state, so a read that meets the end simply stops there and a seek always
// lands, and a peek served from the buffered window costs no virtual call.
bool EbmlReader::peekByte(std::uint8_t& byte) {
    const auto next = stream.rdbuf()->sgetc();
    if (std::streambuf::traits_type::eq_int_type(next, std::streambuf::traits_type::eof())) {
        return false;
    }
    byte = static_cast<std::uint8_t>(std::streambuf::traits_type::to_char_type(next));
    return true;
}

bool EbmlReader::readBytes(std::uint8_t* destination, const std::uint64_t count) {
    std::streambuf& buffer = *stream.rdbuf();
    if (count <= HEADER_FIELD_MAX) {
        // Header fields: byte by byte from the window, without a virtual call.
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto next = buffer.sbumpc();
            if (std::streambuf::traits_type::eq_int_type(next, std::streambuf::traits_type::eof())) {
                return false;
            }
            destination[i] = static_cast<std::uint8_t>(std::streambuf::traits_type::to_char_type(next));
        }
        return true;
    }
    const std::streamsize got = buffer.sgetn(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(count));
    return static_cast<std::uint64_t>(got) == count;
}

void EbmlReader::skipOneByte() {
    stream.rdbuf()->sbumpc();
}

std::uint64_t EbmlReader::position() {
    const std::streamoff here = stream.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    return here < 0 ? std::numeric_limits<std::uint64_t>::max() : static_cast<std::uint64_t>(here);
}

void EbmlReader::seekTo(const std::uint64_t target) {
    std::streambuf& buffer = *stream.rdbuf();
    if (target > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max()) ||
        buffer.pubseekpos(static_cast<std::streamoff>(target), std::ios_base::in) < 0) {
        buffer.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    }
}

std::uint64_t EbmlReader::endPosition() {
    const std::uint64_t here = position();
    const std::streamoff end = stream.rdbuf()->pubseekoff(0, std::ios_base::end, std::ios_base::in);
    seekTo(here);
    return end < 0 ? here : static_cast<std::uint64_t>(end);
}

std::uint64_t EbmlReader::bytesAtHand() {
    return static_cast<std::uint64_t>(std::max<std::streamsize>(stream.rdbuf()->in_avail(), 0));
}

void EbmlReader::skipBytes(const std::uint64_t count) {
    if (count <= bytesAtHand()) {
        stream.rdbuf()->pubseekoff(static_cast<std::streamoff>(count), std::ios_base::cur, std::ios_base::in);
        return;
    }
    const std::uint64_t here = position();
    const std::uint64_t end = endPosition();
    // Compare with what is left rather than add first: `here + count` can wrap.
    if (here >= end || count >= end - here) {
        seekTo(end);
    } else {
        seekTo(here + count);
    }
}

// ---- header decoding ------------------------------------------------------

// The length of an ID or a size field is announced by the highest set bit of
// its first byte:
//
//   1xxx xxxx  1 byte      0000 1xxx  5 bytes (sizes only)
//   01xx xxxx  2 bytes     0000 01xx  6 bytes
//   001x xxxx  3 bytes     0000 001x  7 bytes
//   0001 xxxx  4 bytes     0000 0001  8 bytes
//
// IDs keep the marker bit as part of their value; sizes drop it.
int EbmlReader::ReadOneByteForLength(std::uint8_t& byte, const IdOrSizeLength kind) {
    std::uint8_t next = 0;
    if (!peekByte(next)) {
        return -1;
    }
    byte = next;
    const int longest = kind == ID_LENGTH ? 4 : 8;
    for (int length = 1; length <= longest; ++length) {
        if ((next & (0x80 >> (length - 1))) != 0) {
            return length;
        }
    }
    return -1;
}

std::uint8_t EbmlReader::ResetByte(const std::uint8_t byte) {
    for (int bit = 7; bit >= 0; --bit) {
        if ((byte & (1u << bit)) != 0) {
            return static_cast<std::uint8_t>(byte & ((1u << bit) - 1));
        }
    }
    return 0;
}

bool EbmlReader::isLengthKnown(const std::uint8_t* sizeBytes) const {
    const auto length = static_cast<std::uint64_t>(element.sizeLength);
    std::array<std::uint8_t, 8> allOnes{};
    std::fill(allOnes.begin(), allOnes.end(), 0xFF);
    ByteUtilities::shiftRightBitsOnBytes(allOnes.data(), length, element.sizeLength);
    return std::memcmp(allOnes.data(), sizeBytes, length) != 0;
}

bool EbmlReader::ReadElementData() {
    // Content the buffer can serve is inside the file; only the rest needs
    // the check against the end of the file.
    if (element.size > MAX_LOADED_CONTENT || element.size > bytesAtHand()) {
        const std::uint64_t here = position();
        const std::uint64_t end = endPosition();
        if (element.size > MAX_LOADED_CONTENT || here > end || element.size > end - here) {
            seekTo(end);
            return false;
        }
    }
    element.data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(element.size));
    return readBytes(element.data.get(), element.size);
}

bool EbmlReader::ProcessEbmlCorrectSizeLength(const bool skipContent, const std::uint8_t firstSizeByte) {
    std::array<std::uint8_t, 8> sizeBytes{};
    if (!readBytes(sizeBytes.data(), static_cast<std::uint64_t>(element.sizeLength))) {
        return false;
    }
    sizeBytes[0] = ResetByte(firstSizeByte);
    element.size = ByteUtilities::bytesTo<unsigned long>(sizeBytes.data(), static_cast<std::uint8_t>(element.sizeLength),
                                                         false);

    if (globalDict.find(element.id) != globalDict.end()) {
        // Void is padding, so its content is stepped over; CRC-32 and
        // SignatureSlot are loaded and dropped. Either way the caller never
        // sees a global element.
        if (element.id == Ebml::VOID_ELEMENT) {
            skipBytes(element.size);
        } else {
            ReadElementData();
        }
        return false;
    }
    const auto entry = notGlobalDict.find(element.id);
    if (entry == notGlobalDict.end()) {
        // Not an element we know: look for a header again one byte past the
        // first size byte.
        stream.rdbuf()->pubseekoff(1 - static_cast<std::streamoff>(element.sizeLength), std::ios_base::cur,
                                   std::ios_base::in);
        return false;
    }
    element.info = entry->second;
    if (skipContent) {
        if (isLengthKnown(sizeBytes.data())) {
            skipBytes(element.size);
        } else {
            stepOut();
        }
    } else if (element.info.type != MASTER) {
        return ReadElementData();
    }
    return true;
}

bool EbmlReader::ProcessEbmlCorrectIDLength(const bool skipContent) {
    std::array<std::uint8_t, 4> idBytes{};
    if (!readBytes(idBytes.data(), static_cast<std::uint64_t>(element.idLength))) {
        return false;
    }
    element.id = ByteUtilities::bytesTo<unsigned int>(idBytes.data(), static_cast<std::uint8_t>(element.idLength), false);
    std::uint8_t firstSizeByte = 0;
    const int length = ReadOneByteForLength(firstSizeByte, SIZE_LENGTH);
    if (length < 0) {
        element.sizeLength = -1;
        skipOneByte();
        return false;
    }
    element.sizeLength = static_cast<std::int8_t>(length);
    return ProcessEbmlCorrectSizeLength(skipContent, firstSizeByte);
}

bool EbmlReader::ProcessEbml(const bool skipContent, const PeekOrRead mode) {
    const std::uint64_t start = mode == PEEK ? position() : 0;
    bool found = false;
    for (;;) {
        element.reset();
        std::uint8_t firstByte = 0;
        const int length = ReadOneByteForLength(firstByte, ID_LENGTH);
        if (length < 0 && !peekByte(firstByte)) {
            break;  // no byte left
        }
        if (length < 0) {
            element.idLength = -1;
            skipOneByte();
            continue;
        }
        element.idLength = static_cast<std::int8_t>(length);
        if (ProcessEbmlCorrectIDLength(skipContent)) {
            found = true;
            break;
        }
    }
    if (mode == PEEK) {
        seekTo(start);
    }
    return found;
}

// ---- navigation -----------------------------------------------------------

bool EbmlReader::stepOverTo(const std::uint32_t targetId) {
    const std::uint64_t start = position();
    const std::int32_t referenceLevel = element.info.level;
    for (;;) {
        if (!ProcessEbml(true, PEEK)) {
            seekTo(start);
            return false;
        }
        if (element.id == targetId) {
            return true;
        }
        if (element.info.level != referenceLevel) {
            seekTo(start);
            return false;
        }
        ProcessEbml(true, READ);
    }
}

void EbmlReader::stepOut() {
    EbmlElement parent = element.headerCopy();
    if (parent.info.type != MASTER) {
        return;
    }
    // Children are known by level alone: the first known element one level
    // too deep or too shallow ends the parent.
    const std::int32_t childLevel = parent.info.level + 1;
    for (;;) {
        if (!ProcessEbml(false, PEEK) || element.info.level != childLevel) {
            element = std::move(parent);
            return;
        }
        ProcessEbml(true, READ);
    }
}

// ---- prelude and DocType --------------------------------------------------

void EbmlReader::scanPrelude(std::string* text) {
    // First find where the prelude stops and where its text ends, then read
    // the text in one go into a string of exactly its length: a file of
    // gigabytes without a 0x1A byte costs only the text that is returned.
    seekTo(0);
    std::array<char, PRELUDE_CHUNK> chunk{};
    std::uint64_t scanned = 0;
    std::uint64_t textLength = 0;
    bool textEnded = false;
    for (;;) {
        const auto got = static_cast<std::size_t>(
            std::max<std::streamsize>(stream.rdbuf()->sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size())), 0));
        const char* const begin = chunk.data();
        const auto* stop = static_cast<const char*>(std::memchr(begin, Ebml::HEADER_FIRST_BYTE, got));
        const std::size_t preludeBytes = stop != nullptr ? static_cast<std::size_t>(stop - begin) : got;
        if (!textEnded) {
            const auto* zero = static_cast<const char*>(std::memchr(begin, 0, preludeBytes));
            textLength += zero != nullptr ? static_cast<std::size_t>(zero - begin) : preludeBytes;
            textEnded = zero != nullptr;
        }
        scanned += preludeBytes;
        if (stop != nullptr || got < chunk.size()) {
            break;
        }
    }
    if (text != nullptr && textLength > 0) {
        seekTo(0);
        text->resize(static_cast<std::size_t>(textLength));
        readBytes(reinterpret_cast<std::uint8_t*>(text->data()), textLength);
    }
    seekTo(scanned);
}

std::string EbmlReader::readInitialAsciiText() {
    std::string text;
    scanPrelude(&text);
    return text;
}

void EbmlReader::goToEbmlStart() {
    scanPrelude(nullptr);
}

int EbmlReader::discoverEbmlFileType(std::string& docType) {
    goToEbmlStart();
    if (!ProcessEbml(false, READ) || element.id != Ebml::HEADER) {
        return 0;
    }
    // Not bounded by the header: without a DocType the search goes on through
    // whatever follows until one turns up or the file ends.
    do {
        if (!ProcessEbml(false, READ)) {
            return 0;
        }
    } while (element.id != Ebml::DOC_TYPE);
    // A DocType, like any EBML string, ends at its first zero byte.
    const auto* bytes = reinterpret_cast<const char*>(element.data.get());
    const auto* zero = static_cast<const char*>(std::memchr(bytes, 0, element.size));
    docType.assign(bytes, zero != nullptr ? static_cast<std::size_t>(zero - bytes) : element.size);
    return 1;
}

// ---- display --------------------------------------------------------------

void EbmlReader::displayCurrentElementInformation() const {
    std::ostream& out = std::cout;
    if (element.info.level > 0) {
        out << std::string(static_cast<std::size_t>(element.info.level), '\t');
    }
    out << element.info.name << ' ';
    // Without loaded content every value reads as empty.
    const std::uint8_t* const bytes = element.data.get();
    const std::uint64_t size = bytes != nullptr ? element.size : 0;
    const auto length = static_cast<std::uint8_t>(size & 0xFF);
    switch (element.info.type) {
        case BINARY:
            out << ByteUtilities::byteRepresentation(size, bytes) << std::endl;
            break;
        case SIGNED_INTEGER: {
            long value = ByteUtilities::bytesTo<long>(bytes, length, false);
            if (size >= 1 && size <= 7 && (bytes[0] & 0x80) != 0) {
                value = static_cast<long>(static_cast<unsigned long>(value) | (~0ul << (8 * size)));
            }
            out << value;
            break;
        }
        case UNSIGNED_INTEGER:
            out << ByteUtilities::bytesTo<unsigned long>(bytes, length, false);
            break;
        case FLOAT:
            if (size == 4) {
                out << static_cast<double>(ByteUtilities::bytesTo<float>(bytes, false));
            } else if (size == 8) {
                out << ByteUtilities::bytesTo<double>(bytes, false);
            }
            break;
        case UTF8:
        case STRING: {
            // Text ends at its first zero byte; what follows is left-over bytes.
            if (size == 0) {
                break;
            }
            const auto* text = reinterpret_cast<const char*>(bytes);
            const auto* zero = static_cast<const char*>(std::memchr(text, 0, size));
            out.write(text, static_cast<std::streamsize>(zero != nullptr ? static_cast<std::uint64_t>(zero - text) : size));
            break;
        }
        default:
            break;
    }
    out << std::endl;
}
