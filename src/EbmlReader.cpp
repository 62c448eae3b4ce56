#include "EbmlReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
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

// A DocType up to this long is copied from the record; a longer one is read
// again straight into its string, so that it is held once, not twice.
constexpr std::uint64_t SHORT_DOC_TYPE = 64;
// Long values go out in pieces: a large write would bypass the output
// buffer, and hex text is three times the size of its bytes.
constexpr std::uint64_t OUTPUT_PIECE = 256;

// EBML text ends at its first zero byte; what follows is left-over bytes.
std::uint64_t textLength(const std::uint8_t* bytes, const std::uint64_t size) {
    const auto* zero = size > 0 ? static_cast<const std::uint8_t*>(std::memchr(bytes, 0, size)) : nullptr;
    return zero != nullptr ? static_cast<std::uint64_t>(zero - bytes) : size;
}

}  // namespace

void EbmlReader::create_ebml_dict() {
    storeRows(globalDict, GLOBAL_TABLE);
    storeRows(notGlobalDict, HEADER_TABLE);
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
    if (!cursor.peek(next)) {
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
    const auto length = static_cast<std::uint64_t>(static_cast<std::uint8_t>(element.sizeLength));
    std::array<std::uint8_t, 8> allOnes{};
    std::fill(allOnes.begin(), allOnes.end(), 0xFF);
    ByteUtilities::shiftRightBitsOnBytes(allOnes.data(), length, element.sizeLength);
    return std::memcmp(allOnes.data(), sizeBytes, length) != 0;
}

bool EbmlReader::ReadElementData() {
    if (!loadable(element.size)) {
        cursor.seek(cursor.end());
        return false;
    }
    element.data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(element.size));
    return cursor.read(element.data.get(), element.size);
}

bool EbmlReader::loadable(const std::uint64_t size) {
    // What the buffer holds is inside the file; only the rest needs the end.
    return size <= MAX_LOADED_CONTENT && (size <= cursor.atHand() || size <= cursor.remaining());
}

bool EbmlReader::ProcessEbmlCorrectSizeLength(const bool skipContent, const std::uint8_t firstSizeByte) {
    std::array<std::uint8_t, 8> sizeBytes{};
    if (!cursor.read(sizeBytes.data(), static_cast<std::uint64_t>(element.sizeLength))) {
        return false;
    }
    sizeBytes[0] = ResetByte(firstSizeByte);
    element.size = ByteUtilities::bytesTo<std::uint64_t>(sizeBytes.data(), static_cast<std::uint8_t>(element.sizeLength),
                                                         false);

    if (globalDict.find(element.id) != globalDict.end()) {
        // The caller never sees a global element. Void is padding and is
        // stepped over. A CRC-32 or SignatureSlot must pass the same checks as
        // a load (inside the file, at most the load limit, else the read ends
        // as at the end of the file), but its bytes are never used, so they
        // are stepped over too rather than copied.
        if (element.id == Ebml::VOID_ELEMENT || loadable(element.size)) {
            cursor.skip(element.size);
        } else {
            cursor.seek(cursor.end());
        }
        return false;
    }
    const auto entry = notGlobalDict.find(element.id);
    if (entry == notGlobalDict.end()) {
        // Not an element we know: look for a header again one byte past the
        // first size byte.
        cursor.back(static_cast<std::uint64_t>(element.sizeLength) - 1);
        return false;
    }
    element.info = entry->second;
    if (skipContent) {
        if (isLengthKnown(sizeBytes.data())) {
            cursor.skip(element.size);
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
    if (!cursor.read(idBytes.data(), static_cast<std::uint64_t>(element.idLength))) {
        return false;
    }
    element.id = ByteUtilities::bytesTo<unsigned int>(idBytes.data(), static_cast<std::uint8_t>(element.idLength), false);
    std::uint8_t firstSizeByte = 0;
    const int length = ReadOneByteForLength(firstSizeByte, SIZE_LENGTH);
    if (length < 0) {
        element.sizeLength = -1;
        cursor.skipByte();
        return false;
    }
    element.sizeLength = static_cast<std::int8_t>(length);
    return ProcessEbmlCorrectSizeLength(skipContent, firstSizeByte);
}

bool EbmlReader::ProcessEbml(const bool skipContent, const PeekOrRead mode, const std::uint64_t limit) {
    const std::uint64_t start = cursor.position();
    bool found = false;
    for (std::uint64_t candidate = start;; candidate = cursor.position()) {
        element.reset();
        if (candidate >= limit) {
            break;
        }
        std::uint8_t firstByte = 0;
        const int length = ReadOneByteForLength(firstByte, ID_LENGTH);
        if (length < 0) {
            if (!cursor.peek(firstByte)) {
                break;  // no byte left
            }
            // No byte of a run below 0x10 can start an ID: drop them all at once.
            element.idLength = -1;
            cursor.skipBytesBelow(FIRST_ID_BYTE, limit - candidate);
            continue;
        }
        element.idLength = static_cast<std::int8_t>(length);
        if (ProcessEbmlCorrectIDLength(skipContent)) {
            elementStart = candidate;
            found = true;
            break;
        }
    }
    if (mode == PEEK) {
        cursor.seek(start);
    }
    peekedFrom = mode == PEEK && found ? start : NO_POSITION;
    return found;
}

// ---- navigation -----------------------------------------------------------

bool EbmlReader::stepOverTo(const std::uint32_t targetId) {
    const std::uint64_t start = cursor.position();
    const std::int32_t referenceLevel = element.info.level;
    for (;;) {
        if (!ProcessEbml(true, PEEK)) {
            cursor.seek(start);
            return false;
        }
        if (element.id == targetId) {
            return true;
        }
        if (element.info.level != referenceLevel) {
            cursor.seek(start);
            return false;
        }
        // Stepped over from its own start: what lay in front of it has been
        // passed once already (and a stream may no longer hold it).
        cursor.seek(elementStart);
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
        cursor.seek(elementStart);
        ProcessEbml(true, READ);
    }
}

// ---- prelude and DocType --------------------------------------------------

void EbmlReader::readInitialAsciiText(const char* lead) {
    // The text is read where the input buffer holds it and goes out piece by
    // piece as it comes, so a file of gigabytes without a 0x1A byte (a log
    // given by mistake) costs no memory of its own. The position found is
    // kept: the later stages start from it rather than searching again.
    cursor.seek(0);
    bool textEnded = lead == nullptr;
    bool textStarted = false;
    std::string carry;
    for (;;) {
        const auto [begin, got] = cursor.held();
        if (got == 0) {
            if (textStarted && !textEnded) {
                // The end came in the middle of the text: what it cut goes out as it is.
                static constexpr std::uint8_t NOTHING = 0;
                appendText(&NOTHING, 0, carry, true);
                writeLine();
            }
            break;
        }
        const auto* stop = static_cast<const char*>(std::memchr(begin, Ebml::HEADER_FIRST_BYTE, got));
        const std::size_t preludeBytes = stop != nullptr ? static_cast<std::size_t>(stop - begin) : got;
        if (!textEnded) {
            const auto* zero = static_cast<const char*>(std::memchr(begin, 0, preludeBytes));
            const std::size_t textBytes = zero != nullptr ? static_cast<std::size_t>(zero - begin) : preludeBytes;
            textEnded = zero != nullptr || stop != nullptr;
            if (textBytes > 0 && !textStarted) {
                line += lead;
                textStarted = true;
            }
            if (textStarted) {
                appendText(reinterpret_cast<const std::uint8_t*>(begin), textBytes, carry, textEnded);
                writeLine();
            }
        }
        cursor.consume(preludeBytes);
        if (stop != nullptr) {
            break;
        }
    }
    ebmlStart = cursor.position();
}

void EbmlReader::goToEbmlStart() {
    if (ebmlStart == NO_POSITION) {
        readInitialAsciiText(nullptr);
    } else {
        cursor.seek(ebmlStart);
    }
}

int EbmlReader::discoverEbmlFileType(std::string& docType) {
    goToEbmlStart();
    if (!ProcessEbml(false, READ) || element.id != Ebml::HEADER) {
        return 0;
    }
    // The DocType is one of the header's children: the search ends where the
    // header ends (when its size is known), at the next top-level element, or
    // at the end of the file. A DocType met after that belongs to something
    // else, and a file of gigabytes behind a header without one costs nothing.
    const std::uint64_t allOnes = (1ull << (7 * element.sizeLength)) - 1;
    const std::uint64_t headerEnd = element.size != allOnes ? cursor.position() + element.size : ByteCursor::NO_LIMIT;
    docType.clear();
    while (ProcessEbml(false, READ, headerEnd) && cursor.position() <= headerEnd && element.info.level != 0) {
        if (element.id == Ebml::DOC_TYPE) {
            const std::uint64_t length = textLength(element.data.get(), element.size);
            if (length <= SHORT_DOC_TYPE) {
                docType.assign(reinterpret_cast<const char*>(element.data.get()), static_cast<std::size_t>(length));
                break;
            }
            // Read again straight into `docType` once the record has let go
            // of its copy: a DocType of megabytes is then held once, not twice.
            // (Where a stream no longer holds it, what is read again is no
            // DocType the tool knows either way: it is longer than any.)
            element.data.reset();
            cursor.back(element.size);
            docType.resize(static_cast<std::size_t>(length));
            cursor.readUpTo(docType.data(), docType.size());
            cursor.skip(element.size - length);
            break;
        }
    }
    return 1;
}

// ---- display --------------------------------------------------------------

void EbmlReader::displayCurrentElementInformation() {
    // The line is put together in `line` and written at once; only a long
    // value goes out in pieces of its own.
    line.assign(static_cast<std::size_t>(std::max(element.info.level, 0)), '\t');
    line += element.info.name;
    line += ' ';
    // Without loaded content every value reads as empty.
    const std::uint8_t* const bytes = element.data.get();
    const std::uint64_t size = bytes != nullptr ? element.size : 0;
    const auto length = static_cast<std::uint8_t>(size & 0xFF);
    std::array<char, 32> number{};
    switch (element.info.type) {
        case BINARY:
            for (std::uint64_t done = 0; done < size; done += OUTPUT_PIECE) {
                if (done > 0) {
                    line += ':';
                }
                line += ByteUtilities::byteRepresentation(std::min(OUTPUT_PIECE, size - done), bytes + done);
                writeLine();
            }
            line += '\n';
            break;
        case SIGNED_INTEGER: {
            std::int64_t value = ByteUtilities::bytesTo<std::int64_t>(bytes, length, false);
            if (size >= 1 && size <= 7 && (bytes[0] & 0x80) != 0) {
                const std::uint64_t signBits = ~std::uint64_t{0} << (8 * size);
                value = static_cast<std::int64_t>(static_cast<std::uint64_t>(value) | signBits);
            }
            line.append(number.data(), std::to_chars(number.data(), number.data() + number.size(), value).ptr);
            break;
        }
        case UNSIGNED_INTEGER: {
            const std::uint64_t value = ByteUtilities::bytesTo<std::uint64_t>(bytes, length, false);
            line.append(number.data(), std::to_chars(number.data(), number.data() + number.size(), value).ptr);
            break;
        }
        case FLOAT:
            // What the standard stream's default floating-point notation writes.
            if (size == 4) {
                appendFloat(static_cast<double>(ByteUtilities::bytesTo<float>(bytes, false)));
            } else if (size == 8) {
                appendFloat(ByteUtilities::bytesTo<double>(bytes, false));
            }
            break;
        case UTF8:
        case STRING: {
            std::string carry;
            appendText(bytes, textLength(bytes, size), carry, true);
            break;
        }
        default:
            break;
    }
    line += '\n';
    writeLine();
}

void EbmlReader::appendText(const std::uint8_t* text, const std::uint64_t length, std::string& carry,
                            const bool last) {
    std::uint64_t done = 0;
    do {
        if (done > 0) {
            writeLine();
        }
        const std::uint64_t piece = std::min(OUTPUT_PIECE, length - done);
        if (textForTerminal) {
            line += ByteUtilities::terminalText(text + done, piece, carry, last && done + piece == length);
        } else {
            line.append(reinterpret_cast<const char*>(text + done), static_cast<std::size_t>(piece));
        }
        done += piece;
    } while (done < length);
}

void EbmlReader::appendFloat(const double value) {
    // The C libraries differ on infinities and NaNs; these are the words the
    // tool has always printed.
    if (std::isnan(value) || std::isinf(value)) {
        line += std::signbit(value) ? "-" : "";
        line += std::isnan(value) ? "nan" : "inf";
        return;
    }
    std::array<char, 32> text{};
    const int written = std::snprintf(text.data(), text.size(), "%g", value);
    line.append(text.data(), static_cast<std::size_t>(std::clamp(written, 0, static_cast<int>(text.size()) - 1)));
}

void EbmlReader::writeLine() {
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size()));
    line.clear();
}
