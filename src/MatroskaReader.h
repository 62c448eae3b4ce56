#ifndef QUORVEL_MATROSKA_READER_H
#define QUORVEL_MATROSKA_READER_H

#include <cstddef>
#include <cstdint>
#include <istream>
#include <map>
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
using SeekIndex = std::map<std::uint32_t, std::uint64_t>;

// What one SeekHead search carries besides the index: where the Segment's
// data starts (the origin of every position), where the file ends, the
// targets looked at for chained SeekHeads, and where the lists that chain to
// another go on.
struct SeekHeadChain {
    std::uint64_t segmentDataStart = 0;
    std::uint64_t fileEnd = 0;
    // The front SeekHead's own position first, then every target looked at.
    std::vector<std::uint64_t> lookedAt;
    std::vector<std::uint64_t> returnPositions;
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

    // At most this many targets of SeekHead entries are looked at in one
    // search, besides the front SeekHead itself.
    static constexpr std::size_t MAX_CHAINED_LOOKS = 16;

    // With a Seek header just read: reads its SeekID and SeekPosition, and
    // keeps the position in `index` when the entry is for Tracks. When the
    // entry names a SeekHead that is followed (see `followsSeekHeadAt`), the
    // stream is left at the first child of that SeekHead's first Seek (the
    // record holds the Seek), the place to come back to is pushed on `chain`
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
    // With the stream in front of a Tracks element, at or after
    // `tracksPosition` with nothing known in between: writes the lines of
    // Tracks and of every element inside it, never reading past its end.
    // Nothing, and false, if no Tracks element is read from there.
    bool GetTrackInfo(std::uint64_t tracksPosition);
    // True when lower <= the read position <= upper.
    bool CheckTracksFileBounds(std::uint64_t lower, std::uint64_t upper);

private:
    // Where a SeekPosition leads: Segment data start + `seekPosition`, or the
    // end of the file when that lies beyond it (the sum must not wrap).
    static std::uint64_t targetOf(const SeekHeadChain& chain, std::uint64_t seekPosition);
    // Looks at `target` for a SeekHead to follow, when the target is new and
    // the looks are not used up: its header must start exactly there and the
    // first element after it must be a Seek. True with the stream at that
    // Seek's first child and the place to come back to on `chain`; false with
    // the stream where it was.
    bool followsSeekHeadAt(SeekHeadChain& chain, std::uint64_t target);
    // From the stream's position in the Segment, walks to the Segment's
    // Tracks and lists it, or says that there is none.
    void searchTracksManually();
};

#endif  // QUORVEL_MATROSKA_READER_H
