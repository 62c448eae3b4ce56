#ifndef QUORVEL_MATROSKA_READER_H
#define QUORVEL_MATROSKA_READER_H

#include <cstdint>
#include <istream>
#include <map>
#include <unordered_set>
#include <vector>

#include "EbmlReader.h"

// Matroska element IDs the tool refers to by name.
namespace Matroska {
constexpr std::uint32_t TRACKS = 0x1654AE6B;
constexpr std::uint32_t SEGMENT = 0x18538067;
constexpr std::uint32_t INFO = 0x1549A966;
constexpr std::uint32_t SEEKHEAD = 0x114D9B74;
constexpr std::uint32_t DEFAULT_DURATION = 0x23E383;
constexpr std::uint32_t TRACK_TIMECODE_SCALE = 0x23314F;
constexpr std::uint32_t MAX_BLOCK_ADDITION_ID = 0x55EE;
constexpr std::uint32_t LANGUAGE = 0x22B59C;
constexpr std::uint32_t CODEC_NAME = 0x258688;
constexpr std::uint32_t CODEC_SETTINGS = 0x3A9697;
constexpr std::uint32_t CODEC_INFO_URL = 0x3B4040;
constexpr std::uint32_t CODEC_DOWNLOAD_URL = 0x26B240;
constexpr std::uint32_t COLOUR_SPACE = 0x2EB524;
constexpr std::uint32_t GAMMA_VALUE = 0x2FB523;
constexpr std::uint32_t FRAME_RATE = 0x2383E3;
}  // namespace Matroska

// Element ID named by a Seek entry to its position, relative to the Segment's
// first data byte. The first entry read for an ID wins.
using SeekIndex = std::map<unsigned int, unsigned long>;

// What one SeekHead search carries besides the index: where the Segment's
// data starts (the origin of every position), the SeekHeads already visited,
// where to return to after each chained SeekHead, and how many more bytes the
// visits may pass over.
struct SeekHeadChain {
    struct Visit {
        std::uint64_t target;          // where the chained SeekHead was looked for
        std::uint64_t returnPosition;  // where the list that named it goes on
    };
    std::uint64_t segmentDataStart = 0;
    std::unordered_set<std::uint64_t> visited;
    std::vector<Visit> openVisits;
    std::uint64_t visitBudget = 0;
};

// The Matroska layer: classification by DocType, the SeekHead index, and the
// Tracks search and listing.
class MatroskaReader : public EbmlReader {
public:
    explicit MatroskaReader(std::istream& input) : EbmlReader(input) {}

    // Stores the EBML table and then the Matroska table.
    static void create_matroska_dict();

    // 0: not EBML; 2: another EBML document; 3: Matroska; 4: WebM.
    int discoverFileType();

    // With a Seek header just read: reads its SeekID and SeekPosition into
    // `index`. When the entry names another SeekHead not yet visited and that
    // SeekHead opens with a Seek, the stream is left at that Seek's first child
    // (the record holds the Seek), the visit is pushed on `chain`,
    // and true is returned; otherwise the stream is after the entry.
    bool getSeekData(SeekIndex& index, SeekHeadChain& chain);
    // Reads the next element; its value if it is a SeekPosition, else 0.
    std::uint64_t getSeekPosition();
    // With the first Seek header of a SeekHead just read: reads every Seek
    // entry that follows, and those of the SeekHeads they chain to, into
    // `index`. Leaves the first element after the Seek list as the record.
    void ListSeekPositions(SeekIndex& index, SeekHeadChain& chain);

    // Finds the Segment's Tracks, through the SeekHead or by walking the
    // Segment, and writes it and everything inside it, with the messages of
    // the search. Starts over from the beginning of the file.
    void goToTracks();
    // With the stream at `tracksPosition`, in front of a Tracks element: writes the
    // lines of Tracks and of every element inside it. Nothing if no Tracks
    // element is read from there.
    void GetTrackInfo(std::uint64_t tracksPosition);
    // True when lower <= the read position <= upper.
    bool CheckTracksFileBounds(std::uint64_t lower, std::uint64_t upper);

private:
    // Takes the bytes passed over since `from` off the visit budget.
    void spendVisitBudget(SeekHeadChain& chain, std::uint64_t from);
    // Walks the Segment's children from the record's level to Tracks and
    // lists it, or says that there is none.
    void searchTracksManually();
};

#endif  // QUORVEL_MATROSKA_READER_H
