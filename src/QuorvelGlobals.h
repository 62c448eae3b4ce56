#ifndef QUORVEL_GLOBALS_H
#define QUORVEL_GLOBALS_H

#include <cstdint>
#include <string>
#include <utility>

// Types shared by every unit: what the dictionaries say about an element and
// the two small switches of the element reader.
namespace QuorvelGlobals {

// How an element's content is read and printed. Value 8 is deliberately left
// without an enumerator: nothing uses it.
enum ElementType : std::int32_t {
    MASTER = 0,
    BINARY = 1,
    SIGNED_INTEGER = 2,
    UNSIGNED_INTEGER = 3,
    UTF8 = 4,
    FLOAT = 5,
    DATE = 6,
    STRING = 7,
    NOT_ASSIGNED = 9,
};

// Which length marker a header byte is read for: IDs are 1 to 4 bytes long,
// size fields 1 to 8.
enum IdOrSizeLength : std::int32_t {
    ID_LENGTH = 0,
    SIZE_LENGTH = 1,
};

// PEEK puts the stream back where a read began; READ leaves it after what was consumed.
enum PeekOrRead : std::int32_t {
    PEEK = 0,
    READ = 1,
};

// Levels: 0 for top-level elements, one more per nesting step, GLOBAL_LEVEL for
// elements that may occur at any depth, NOT_ASSIGNED_LEVEL for no entry at all.
constexpr std::int32_t GLOBAL_LEVEL = 7;
constexpr std::int32_t NOT_ASSIGNED_LEVEL = 8;

// One dictionary entry: the display name, the nesting level and the data type.
struct Info {
    Info() = default;
    Info(std::string entryName, const std::int32_t entryLevel, const ElementType entryType)
        : name(std::move(entryName)), level(entryLevel), type(entryType) {}

    std::string name = "Not assigned";
    std::int32_t level = NOT_ASSIGNED_LEVEL;
    ElementType type = NOT_ASSIGNED;
};

}  // namespace QuorvelGlobals

#endif  // QUORVEL_GLOBALS_H
