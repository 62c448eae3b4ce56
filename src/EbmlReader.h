#ifndef QUORVEL_EBML_READER_H
#define QUORVEL_EBML_READER_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
#include <string>

#include "ByteCursor.h"
#include "EbmlElement.h"
#include "QuorvelGlobals.h"

// Element ID (length-marker bits kept) to what the tool knows of it.
using ElementDictionary = std::map<std::uint32_t, QuorvelGlobals::Info>;

// One row of a built-in element table.
struct ElementTableRow {
    std::uint32_t id;
    const char* name;
    std::int32_t level;
    QuorvelGlobals::ElementType type;
};

// IDs of the EBML layer itself.
namespace Ebml {
constexpr std::uint32_t HEADER = 0x1A45DFA3;
constexpr std::uint32_t DOC_TYPE = 0x4282;
constexpr std::uint32_t VOID_ELEMENT = 0xEC;
// The byte that ends the prelude: the first byte of the header's ID.
constexpr std::uint8_t HEADER_FIRST_BYTE = 0x1A;
}  // namespace Ebml

// Reads EBML elements from a stream, one known element at a time, into the
// current element record. The reader keeps no position of its own: the
// stream's read position is its position, and every operation says where it
// leaves it. Bytes that start no header, headers whose ID no dictionary holds
// and global elements are passed over silently, so the reader finds its way
// again by itself in damaged or unfamiliar data.
class EbmlReader {
public:
    // Content larger than this, or running past the end of the file, is never
    // loaded: a damaged size field must not decide how much memory a run takes.
    static constexpr std::uint64_t MAX_LOADED_CONTENT = 64ull * 1024 * 1024;

    // The first byte that can start an ID: the length marker of an ID is one
    // of its four high bits.
    static constexpr std::uint8_t FIRST_ID_BYTE = 0x10;

    explicit EbmlReader(std::istream& input) : stream(input), cursor(*input.rdbuf()) {}
    EbmlReader(const EbmlReader&) = delete;
    EbmlReader& operator=(const EbmlReader&) = delete;

    // Reads the next known, non-global element into the record. With
    // `skipContent` the whole element is stepped over; without it a master is
    // entered (the stream stops at its first child) and any other element's
    // content is loaded. PEEK puts the stream back where the call began.
    // False when the file ends first, or when no element starts before
    // `limit`; the record is then reset. `elementStart` tells where the
    // element read begins.
    bool ProcessEbml(bool skipContent, QuorvelGlobals::PeekOrRead mode,
                     std::uint64_t limit = ByteCursor::NO_LIMIT);
    // With `idLength` set and the stream at the first ID byte: reads the ID and
    // goes on with the size. False when no element is to be handed out.
    bool ProcessEbmlCorrectIDLength(bool skipContent);
    // With the ID read, `sizeLength` set and the stream at the first size byte
    // (only peeked): reads the size, looks the ID up and reads or steps over
    // the content. True when the element is one to hand to the caller.
    bool ProcessEbmlCorrectSizeLength(bool skipContent, std::uint8_t firstSizeByte);
    // Peeks the next byte into `byte` and returns the length its marker bit
    // announces, or -1 (the byte is then left untouched at the end of the file).
    int ReadOneByteForLength(std::uint8_t& byte, QuorvelGlobals::IdOrSizeLength kind);
    // The first size byte with its length-marker bit cleared.
    static std::uint8_t ResetByte(std::uint8_t byte);
    // False when the `sizeLength` size bytes (marker already cleared) hold the
    // all-ones value that stands for "size not known".
    bool isLengthKnown(const std::uint8_t* sizeBytes) const;
    // Loads `size` content bytes into the record's `data`. When the content is
    // over the load limit or runs past the end of the file nothing is
    // allocated, the stream moves to the end of the file and false is returned.
    bool ReadElementData();

    // From the level of the current record, walks forward over elements of
    // that level until one with `targetId`. True: the stream stands in front of
    // it (and of what was passed over before it). False: the stream is back
    // where the call began.
    bool stepOverTo(std::uint32_t targetId);
    // With the record holding a master of unknown size whose header was just
    // read: steps over its children (the elements one level deeper) and leaves
    // the stream in front of the first element that is not one; the record
    // holds the master again.
    void stepOut();

    // Reads the bytes in front of the first 0x1A byte of the file and, when
    // their text (cut before their first zero byte) is not empty, writes
    // `lead` and the text to standard output as they are read, as text
    // values are written; nothing with `lead` null. The stream is left at
    // that 0x1A byte (or at the end), which the later stages start from.
    void readInitialAsciiText(const char* lead);
    // Finds the EBML header and its DocType. Returns 0, leaving `docType`
    // alone, when the first element is no EBML header. Otherwise returns 1 with
    // `docType` holding the DocType among the header's children (up to its
    // first zero byte), or empty when the header holds none.
    int discoverEbmlFileType(std::string& docType);
    // Writes the current element as one line: a TAB per level, the name, a
    // space and the value by type.
    void displayCurrentElementInformation();

    // Stores the EBML header and global element table.
    static void create_ebml_dict();

    static ElementDictionary globalDict;
    static ElementDictionary notGlobalDict;

    EbmlElement element;
    static constexpr std::uint64_t NO_POSITION = ByteCursor::NO_LIMIT;

    // Whether standard output is a terminal. Text values are then written so
    // that they cannot drive it (see ByteUtilities::terminalText); scripts
    // reading a pipe or a file get every byte as stored.
    bool textForTerminal = false;

    // The position of the first ID byte of the element last returned by
    // `ProcessEbml`.
    std::uint64_t elementStart = 0;
    // Where the last `ProcessEbml` began when it was a PEEK that found an
    // element (the record still holds that element), else NO_POSITION.
    std::uint64_t peekedFrom = NO_POSITION;

protected:
    // Stores each row, insert-or-replace by ID, in table order.
    template <std::size_t N>
    static void storeRows(ElementDictionary& dictionary, const ElementTableRow (&rows)[N]) {
        for (const ElementTableRow& row : rows) {
            dictionary[row.id] = QuorvelGlobals::Info(row.name, row.level, row.type);
        }
    }

    // Moves the stream to the first 0x1A byte: where the prelude scan found
    // it, or by scanning now without writing the text.
    void goToEbmlStart();

    std::istream& stream;
    // Every read goes through the cursor, over the stream's buffer.
    ByteCursor cursor;

private:
    // Whether `size` content bytes may be loaded from the position: at most
    // the load limit, and wholly inside the file.
    bool loadable(std::uint64_t size);
    // Appends `length` bytes of text to the line, as stored or made safe for
    // a terminal, writing the line out between pieces. `carry` holds the
    // start of a character cut by the end of the text before, and takes the
    // one this text cuts unless `last` says that no text follows.
    void appendText(const std::uint8_t* text, std::uint64_t length, std::string& carry, bool last);
    // Appends `value` as the standard stream's default notation writes it.
    void appendFloat(double value);
    // Writes what `line` holds to standard output and empties it.
    void writeLine();

    // The element line being put together, kept to spare an allocation a line.
    std::string line;
    // Where the EBML data starts, once the prelude has been scanned.
    std::uint64_t ebmlStart = NO_POSITION;
};

#endif  // QUORVEL_EBML_READER_H
