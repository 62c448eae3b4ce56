#include "ByteUtilities.h"

#include <algorithm>
#include <array>
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

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// How many bytes the character that `lead` starts takes; 0 when no character
// starts with it.
std::size_t sequenceLength(const std::uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    return lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
}

// Whether `byte` can be byte `index` (1 to 3) of the character that `lead`
// starts. The narrower ranges after E0, ED, F0 and F4 rule out overlong
// forms, surrogates and values above U+10FFFF.
bool continues(const std::uint8_t lead, const std::size_t index, const std::uint8_t byte) {
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (index == 1 && lead == 0xE0) {
        low = 0xA0;
    } else if (index == 1 && lead == 0xED) {
        high = 0x9F;
    } else if (index == 1 && lead == 0xF0) {
        low = 0x90;
    } else if (index == 1 && lead == 0xF4) {
        high = 0x8F;
    }
    return byte >= low && byte <= high;
}

// Controls are not printable: U+0000 to U+001F but TAB, and U+007F to U+009F
// (C2 80 to C2 9F in UTF-8).
bool printable(const std::uint8_t* character, const std::size_t length) {
    if (length == 1) {
        return character[0] == '\t' || (character[0] >= 0x20 && character[0] != 0x7F);
    }
    return !(length == 2 && character[0] == 0xC2 && character[1] <= 0x9F);
}

void appendEscaped(std::string& text, const std::uint8_t byte) {
    text += "\\x";
    text += HEX_DIGITS[byte >> 4];
    text += HEX_DIGITS[byte & 0x0F];
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

// std::int64_t and std::uint64_t are long and unsigned long on some systems,
// long long and unsigned long long on others: all four are here.
template unsigned int ByteUtilities::bytesTo<unsigned int>(const std::uint8_t*, std::uint8_t, bool);
template long ByteUtilities::bytesTo<long>(const std::uint8_t*, std::uint8_t, bool);
template unsigned long ByteUtilities::bytesTo<unsigned long>(const std::uint8_t*, std::uint8_t, bool);
template long long ByteUtilities::bytesTo<long long>(const std::uint8_t*, std::uint8_t, bool);
template unsigned long long ByteUtilities::bytesTo<unsigned long long>(const std::uint8_t*, std::uint8_t, bool);
template float ByteUtilities::bytesTo<float>(const std::uint8_t*, std::uint8_t, bool);
template double ByteUtilities::bytesTo<double>(const std::uint8_t*, std::uint8_t, bool);
template unsigned int ByteUtilities::bytesTo<unsigned int>(const std::uint8_t*, bool);
template long ByteUtilities::bytesTo<long>(const std::uint8_t*, bool);
template unsigned long ByteUtilities::bytesTo<unsigned long>(const std::uint8_t*, bool);
template long long ByteUtilities::bytesTo<long long>(const std::uint8_t*, bool);
template unsigned long long ByteUtilities::bytesTo<unsigned long long>(const std::uint8_t*, bool);
template float ByteUtilities::bytesTo<float>(const std::uint8_t*, bool);
template double ByteUtilities::bytesTo<double>(const std::uint8_t*, bool);

std::string ByteUtilities::byteRepresentation(const std::uint64_t count, const std::uint8_t* bytes) {
    if (count == 0) {
        return std::string();
    }
    std::string text(3 * count - 1, ':');
    for (std::uint64_t i = 0; i < count; ++i) {
        text[3 * i] = HEX_DIGITS[bytes[i] >> 4];
        text[3 * i + 1] = HEX_DIGITS[bytes[i] & 0x0F];
    }
    return text;
}

std::string ByteUtilities::terminalText(const std::uint8_t* bytes, const std::uint64_t count, std::string& carry,
                                        const bool last) {
    // The carried bytes come first; neither they nor the piece are copied.
    const std::size_t carried = carry.size();
    const std::uint64_t total = carried + count;
    const auto at = [&carry, carried, bytes](const std::uint64_t i) {
        return i < carried ? static_cast<std::uint8_t>(carry[i]) : bytes[i - carried];
    };
    std::string text;
    text.reserve(static_cast<std::size_t>(count));
    std::uint64_t i = 0;
    while (i < total) {
        const std::uint8_t lead = at(i);
        const std::size_t length = sequenceLength(lead);
        std::array<std::uint8_t, 4> character{lead};
        std::size_t held = length > 0 ? 1 : 0;
        while (held > 0 && held < length && i + held < total && continues(lead, held, at(i + held))) {
            character[held] = at(i + held);
            ++held;
        }
        if (held == length && length > 0) {
            if (printable(character.data(), length)) {
                text.append(reinterpret_cast<const char*>(character.data()), length);
            } else {
                for (std::size_t k = 0; k < length; ++k) {
                    appendEscaped(text, character[k]);
                }
            }
            i += length;
        } else if (held > 0 && i + held == total && !last) {
            carry.assign(reinterpret_cast<const char*>(character.data()), held);
            return text;
        } else {
            const std::size_t invalid = std::max<std::size_t>(held, 1);
            for (std::size_t k = 0; k < invalid; ++k) {
                appendEscaped(text, character[k]);
            }
            i += invalid;
        }
    }
    carry.clear();
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
