#include "ByteUtilities.h"

#include <cstring>
#include <iostream>

namespace {

constexpr std::uint32_t LITTLE_ENDIAN_HOST = 0x03020100;
constexpr std::uint32_t BIG_ENDIAN_HOST = 0x00010203;

bool hostOrderKnown() {
    std::uint32_t order = 0;
    std::memcpy(&order, ByteUtilities::o32_host_order, sizeof order);
    return order == LITTLE_ENDIAN_HOST || order == BIG_ENDIAN_HOST;
}

template <typename T>
T fromPattern(const std::uint64_t pattern) {
    if constexpr (sizeof(T) == sizeof(std::uint32_t)) {
        const auto narrow = static_cast<std::uint32_t>(pattern);
        T value;
        std::memcpy(&value, &narrow, sizeof value);
        return value;
    } else {
        T value;
        std::memcpy(&value, &pattern, sizeof value);
        return value;
    }
}

}  // namespace

template <typename T>
T ByteUtilities::bytesTo(const std::uint8_t* bytes, const std::uint8_t length, const bool littleEndian) {
    static_assert(sizeof(T) <= sizeof(std::uint64_t), "a conversion fills at most 8 bytes");
    if (!hostOrderKnown() || length == 0) {
        return T{};
    }
    std::size_t count = length;
    const std::uint8_t* run = bytes;
    if (count > sizeof(T)) {
        // Keep the bytes that land in T: the least significant ones.
        if (!littleEndian) {
            run += count - sizeof(T);
        }
        count = sizeof(T);
    }
    std::uint64_t pattern = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = littleEndian ? run[count - 1 - i] : run[i];
        pattern = (pattern << 8) | byte;
    }
    return fromPattern<T>(pattern);
}

template <typename T>
T ByteUtilities::bytesTo(const std::uint8_t* bytes, const bool littleEndian) {
    return bytesTo<T>(bytes, static_cast<std::uint8_t>(sizeof(T)), littleEndian);
}

template unsigned int ByteUtilities::bytesTo<unsigned int>(const std::uint8_t*, std::uint8_t, bool);
template long ByteUtilities::bytesTo<long>(const std::uint8_t*, std::uint8_t, bool);
template unsigned long ByteUtilities::bytesTo<unsigned long>(const std::uint8_t*, std::uint8_t, bool);
template float ByteUtilities::bytesTo<float>(const std::uint8_t*, std::uint8_t, bool);
template double ByteUtilities::bytesTo<double>(const std::uint8_t*, std::uint8_t, bool);
template unsigned int ByteUtilities::bytesTo<unsigned int>(const std::uint8_t*, bool);
template long ByteUtilities::bytesTo<long>(const std::uint8_t*, bool);
template unsigned long ByteUtilities::bytesTo<unsigned long>(const std::uint8_t*, bool);
template float ByteUtilities::bytesTo<float>(const std::uint8_t*, bool);
template double ByteUtilities::bytesTo<double>(const std::uint8_t*, bool);

std::string ByteUtilities::byteRepresentation(const std::uint64_t count, const std::uint8_t* bytes) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    if (count == 0) {
        return std::string();
    }
    std::string text(3 * count - 1, ':');
    for (std::uint64_t i = 0; i < count; ++i) {
        text[3 * i] = DIGITS[bytes[i] >> 4];
        text[3 * i + 1] = DIGITS[bytes[i] & 0x0F];
    }
    return text;
}

void ByteUtilities::showBits(const void* bytes, const std::uint64_t count) {
    const auto* run = static_cast<const std::uint8_t*>(bytes);
    std::string text;
    text.reserve(9 * count + 1);
    for (std::uint64_t i = 0; i < count; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            text.push_back(((run[i] >> bit) & 1) != 0 ? '1' : '0');
        }
        text.push_back(' ');
    }
    text.push_back('\n');
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Both shifts move whole bytes first and then the remaining 0 to 7 bits, which
// gives the same run as shifting one bit at a time `bits` times.
void ByteUtilities::shiftLeftBitsOnBytes(void* bytes, const std::uint64_t count, const std::int16_t bits) {
    if (bits <= 0 || count == 0) {
        return;
    }
    auto* run = static_cast<std::uint8_t*>(bytes);
    const std::uint64_t byteShift = static_cast<std::uint64_t>(bits) / 8;
    const unsigned bitShift = static_cast<unsigned>(bits) % 8;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t from = i + byteShift;
        const unsigned high = from < count ? run[from] : 0;
        const unsigned low = from + 1 < count ? run[from + 1] : 0;
        run[i] = static_cast<std::uint8_t>(((high << bitShift) | (low >> (8 - bitShift))) & 0xFF);
    }
}

void ByteUtilities::shiftRightBitsOnBytes(void* bytes, const std::uint64_t count, const std::int16_t bits) {
    if (bits <= 0 || count == 0) {
        return;
    }
    auto* run = static_cast<std::uint8_t*>(bytes);
    const std::uint64_t byteShift = static_cast<std::uint64_t>(bits) / 8;
    const unsigned bitShift = static_cast<unsigned>(bits) % 8;
    for (std::uint64_t i = count; i-- > 0;) {
        const unsigned low = i >= byteShift ? run[i - byteShift] : 0;
        const unsigned high = i >= byteShift + 1 ? run[i - byteShift - 1] : 0;
        run[i] = static_cast<std::uint8_t>(((low >> bitShift) | (high << (8 - bitShift))) & 0xFF);
    }
}
