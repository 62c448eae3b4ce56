#ifndef QUORVEL_EBML_ELEMENT_H
#define QUORVEL_EBML_ELEMENT_H

#include <cstdint>
#include <memory>

#include "QuorvelGlobals.h"

// The record of the element last read: its decoded header, its dictionary
// entry and, when the content was loaded, the content bytes, which the record
// owns until the next reset. It can be moved but not copied; `headerCopy`
// takes the only copy the reader needs, one without content.
class EbmlElement {
public:
    EbmlElement() = default;
    EbmlElement(const EbmlElement&) = delete;
    EbmlElement& operator=(const EbmlElement&) = delete;
    EbmlElement(EbmlElement&&) = default;
    EbmlElement& operator=(EbmlElement&&) = default;
    ~EbmlElement() = default;

    // Back to the defaults (ID 0, level 8, type 9) and releases the content.
    void reset();
    // The header fields and `info` without the content.
    EbmlElement headerCopy() const;

    std::int8_t idLength = 0;        // 1 to 4; -1 while a byte that starts no ID is dropped
    std::uint32_t id = 0;            // as stored, length-marker bit included
    std::int8_t sizeLength = 0;      // 1 to 8; -1 while a byte that starts no size is dropped
    std::uint64_t size = 0;          // content bytes, length marker removed
    std::unique_ptr<std::uint8_t[]> data;  // `size` bytes once loaded, else null
    QuorvelGlobals::Info info;
};

#endif  // QUORVEL_EBML_ELEMENT_H
