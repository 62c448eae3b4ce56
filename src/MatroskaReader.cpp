#include "MatroskaReader.h"

#include <algorithm>
#include <array>
#include <iostream>

#include "ByteUtilities.h"

using namespace QuorvelGlobals;

namespace {

constexpr std::uint32_t SEEK = 0x4DBB;
constexpr std::uint32_t SEEK_ID = 0x53AB;
constexpr std::uint32_t SEEK_POSITION = 0x53AC;

constexpr ElementTableRow MATROSKA_TABLE[] = {
    {Matroska::SEGMENT, "SEGMENT", 0, MASTER},
    {Matroska::INFO, "Segment Information", 1, MASTER},
    {Matroska::SEEKHEAD, "SeekHead", 1, MASTER},
    {Matroska::TRACKS, "Tracks", 1, MASTER},
    {SEEK, "Seek", 1, MASTER},
    {SEEK_ID, "SeekId", 2, BINARY},
    {SEEK_POSITION, "SeekPosition", 3, UNSIGNED_INTEGER},
    {0xAE, "Track Entry", 2, MASTER},
    {0xD7, "Track Number", 3, UNSIGNED_INTEGER},
    {0x73C5, "Track Uid", 3, UNSIGNED_INTEGER},
    {0x83, "Track Type", 3, UNSIGNED_INTEGER},
    {0xB9, "Flag Enabled", 3, UNSIGNED_INTEGER},
    {0x88, "Flag Default", 3, UNSIGNED_INTEGER},
    {0x55AA, "Flag Forced", 3, UNSIGNED_INTEGER},
    {0x9C, "Flag Lacing", 3, UNSIGNED_INTEGER},
    {0x6DE7, "Min Cache", 3, UNSIGNED_INTEGER},
    {0x6DF8, "MaxCache", 3, UNSIGNED_INTEGER},
    {Matroska::DEFAULT_DURATION, "Default Duration", 3, UNSIGNED_INTEGER},
    {Matroska::TRACK_TIMECODE_SCALE, "Track Timecode Scale", 3, FLOAT},
    {0x537F, "TrackOffset", 3, SIGNED_INTEGER},
    {Matroska::MAX_BLOCK_ADDITION_ID, "Maximum BlockAddID value", 3, UNSIGNED_INTEGER},
    {0x536E, "Name", 3, UTF8},
    {Matroska::LANGUAGE, "Language", 3, STRING},
    {0x86, "Codec Id", 3, STRING},
    {0x63A2, "Codec Private", 3, BINARY},
    {Matroska::CODEC_NAME, "Codec Name", 3, UTF8},
    {0x7446, "Codec Attachment UID", 3, UNSIGNED_INTEGER},
    {Matroska::CODEC_SETTINGS, "CodecSettings", 3, UTF8},
    {Matroska::CODEC_INFO_URL, "CodecInfoURL", 3, STRING},
    {Matroska::CODEC_DOWNLOAD_URL, "CodecDownloadURL", 3, STRING},
    {0xAA, "Codec for damaged data", 3, UNSIGNED_INTEGER},
    {0x6FAB, "Track overlay of", 3, UNSIGNED_INTEGER},
    {0x6624, "Track Translate", 3, MASTER},
    {0x66FC, "TrackTranslateEditionUID", 4, UNSIGNED_INTEGER},
    {0x66BF, "TrackTranslateCodec", 4, UNSIGNED_INTEGER},
    {0x66A5, "TrackTranslateTrackID", 4, BINARY},
    {0xE0, "Video", 3, MASTER},
    {0x9A, "Flag Interlaced", 4, UNSIGNED_INTEGER},
    {0x53B8, "Stereo Mode", 4, UNSIGNED_INTEGER},
    {0x53C0, "Alpha Mode", 4, UNSIGNED_INTEGER},
    {0x53B9, "OldStereoMode", 4, UNSIGNED_INTEGER},
    {0xB0, "Pixel Width", 4, UNSIGNED_INTEGER},
    {0xBA, "Pixel Height", 4, UNSIGNED_INTEGER},
    {0x54AA, "Pixel Crop Bottom", 4, UNSIGNED_INTEGER},
    {0x54BB, "Pixel Crop Top", 4, UNSIGNED_INTEGER},
    {0x54CC, "Pixel Crop Left", 4, UNSIGNED_INTEGER},
    {0x54DD, "Pixel Crop Right", 4, UNSIGNED_INTEGER},
    {0x54B0, "Display Width", 4, UNSIGNED_INTEGER},
    {0x54BA, "Display Height", 4, UNSIGNED_INTEGER},
    {0x54B2, "Display Unit", 4, UNSIGNED_INTEGER},
    {0x54B3, "Aspect Ratio Type", 4, UNSIGNED_INTEGER},
    {Matroska::COLOUR_SPACE, "ColourSpace", 4, BINARY},
    {Matroska::GAMMA_VALUE, "GammaValue", 4, FLOAT},
    {Matroska::FRAME_RATE, "Frame Rate", 4, FLOAT},
    {0xE1, "Audio", 3, MASTER},
    {0xB5, "Sampling Frequency", 4, FLOAT},
    {0x78B5, "Output sampling Frequency", 4, FLOAT},
    {0x9F, "Channels", 4, UNSIGNED_INTEGER},
    {0x7D7B, "ChannelPositions", 4, BINARY},
    {0x6264, "Bit Depth", 4, UNSIGNED_INTEGER},
    {0xE2, "TrackOperation", 3, MASTER},
    {0xE3, "TrackCombinePlanes", 4, MASTER},
    {0xE4, "TrackPlane", 5, MASTER},
    {0xE5, "TrackPlaneUID", 6, UNSIGNED_INTEGER},
    {0xE6, "TrackPlaneType", 6, UNSIGNED_INTEGER},
    {0xE9, "TrackJoinBlocks", 4, MASTER},
    {0xED, "TrackJoinUID", 5, UNSIGNED_INTEGER},
    {0xC0, "TrickTrackUID", 3, UNSIGNED_INTEGER},
    {0xC1, "TrickTrackSegmentUID", 3, BINARY},
    {0xC6, "TrickTrackFlag", 3, UNSIGNED_INTEGER},
    {0xC7, "TrickMasterTrackUID", 3, UNSIGNED_INTEGER},
    {0xC4, "TrickMasterTrackSegmentUID", 3, BINARY},
    {0x6D80, "ContentEncodings", 3, MASTER},
    {0x6240, "ContentEncoding", 4, MASTER},
    {0x5031, "ContentEncodingOrder", 5, UNSIGNED_INTEGER},
    {0x5032, "ContentEncodingScope", 5, UNSIGNED_INTEGER},
    {0x5033, "ContentEncodingType", 5, UNSIGNED_INTEGER},
    {0x5034, "ContentCompression", 5, MASTER},
    {0x4254, "ContentCompAlgo", 6, UNSIGNED_INTEGER},
    {0x4255, "ContentCompSettings", 6, BINARY},
    {0x5035, "ContentEncryption", 5, MASTER},
    {0x47E1, "ContentEncAlgo", 6, UNSIGNED_INTEGER},
    {0x47E2, "ContentEncKeyID", 6, BINARY},
    {0x47E3, "ContentSignature", 6, BINARY},
    {0x47E4, "ContentSigKeyID", 6, BINARY},
    {0x47E5, "ContentSigAlgo", 6, UNSIGNED_INTEGER},
    {0x47E6, "ContentSigHashAlgo", 6, UNSIGNED_INTEGER},
    // Elements today's muxers write that the table above predates. Without
    // them an unknown element makes the reader look for headers inside its
    // bytes, which swallows the known elements after it (every Opus track
    // lost its audio settings to SeekPreRoll), and a walk of the Segment
    // stopped at the first Cluster, Cues, Tags, Chapters or Attachments.
    {0x1F43B675, "Cluster", 1, MASTER},
    {0x1C53BB6B, "Cues", 1, MASTER},
    {0x1941A469, "Attachments", 1, MASTER},
    {0x1043A770, "Chapters", 1, MASTER},
    {0x1254C367, "Tags", 1, MASTER},
    {0x55AB, "FlagHearingImpaired", 3, UNSIGNED_INTEGER},
    {0x55AC, "FlagVisualImpaired", 3, UNSIGNED_INTEGER},
    {0x55AD, "FlagTextDescriptions", 3, UNSIGNED_INTEGER},
    {0x55AE, "FlagOriginal", 3, UNSIGNED_INTEGER},
    {0x55AF, "FlagCommentary", 3, UNSIGNED_INTEGER},
    {0x234E7A, "DefaultDecodedFieldDuration", 3, UNSIGNED_INTEGER},
    {0x22B59D, "LanguageBCP47", 3, STRING},
    {0x56AA, "CodecDelay", 3, UNSIGNED_INTEGER},
    {0x56BB, "SeekPreRoll", 3, UNSIGNED_INTEGER},
    {0x41E4, "BlockAdditionMapping", 3, MASTER},
    {0x41F0, "BlockAddIDValue", 4, UNSIGNED_INTEGER},
    {0x41A4, "BlockAddIDName", 4, STRING},
    {0x41E7, "BlockAddIDType", 4, UNSIGNED_INTEGER},
    {0x41ED, "BlockAddIDExtraData", 4, BINARY},
    {0x9D, "FieldOrder", 4, UNSIGNED_INTEGER},
    {0x55B0, "Colour", 4, MASTER},
    {0x55B1, "MatrixCoefficients", 5, UNSIGNED_INTEGER},
    {0x55B2, "BitsPerChannel", 5, UNSIGNED_INTEGER},
    {0x55B3, "ChromaSubsamplingHorz", 5, UNSIGNED_INTEGER},
    {0x55B4, "ChromaSubsamplingVert", 5, UNSIGNED_INTEGER},
    {0x55B5, "CbSubsamplingHorz", 5, UNSIGNED_INTEGER},
    {0x55B6, "CbSubsamplingVert", 5, UNSIGNED_INTEGER},
    {0x55B7, "ChromaSitingHorz", 5, UNSIGNED_INTEGER},
    {0x55B8, "ChromaSitingVert", 5, UNSIGNED_INTEGER},
    {0x55B9, "Range", 5, UNSIGNED_INTEGER},
    {0x55BA, "TransferCharacteristics", 5, UNSIGNED_INTEGER},
    {0x55BB, "Primaries", 5, UNSIGNED_INTEGER},
    {0x55BC, "MaxCLL", 5, UNSIGNED_INTEGER},
    {0x55BD, "MaxFALL", 5, UNSIGNED_INTEGER},
    {0x55D0, "MasteringMetadata", 5, MASTER},
    {0x55D1, "PrimaryRChromaticityX", 6, FLOAT},
    {0x55D2, "PrimaryRChromaticityY", 6, FLOAT},
    {0x55D3, "PrimaryGChromaticityX", 6, FLOAT},
    {0x55D4, "PrimaryGChromaticityY", 6, FLOAT},
    {0x55D5, "PrimaryBChromaticityX", 6, FLOAT},
    {0x55D6, "PrimaryBChromaticityY", 6, FLOAT},
    {0x55D7, "WhitePointChromaticityX", 6, FLOAT},
    {0x55D8, "WhitePointChromaticityY", 6, FLOAT},
    {0x55D9, "LuminanceMax", 6, FLOAT},
    {0x55DA, "LuminanceMin", 6, FLOAT},
    {0x7670, "Projection", 4, MASTER},
    {0x7671, "ProjectionType", 5, UNSIGNED_INTEGER},
    {0x7672, "ProjectionPrivate", 5, BINARY},
    {0x7673, "ProjectionPoseYaw", 5, FLOAT},
    {0x7674, "ProjectionPosePitch", 5, FLOAT},
    {0x7675, "ProjectionPoseRoll", 5, FLOAT},
    {0x52F1, "Emphasis", 4, UNSIGNED_INTEGER},
    {0x47E7, "ContentEncAESSettings", 6, MASTER},
};

}  // namespace

void MatroskaReader::create_matroska_dict() {
    create_ebml_dict();
    storeRows(notGlobalDict, MATROSKA_TABLE);
}

int MatroskaReader::discoverFileType() {
    std::string docType;
    if (discoverEbmlFileType(docType) != 1) {
        return 0;
    }
    if (docType == "matroska") {
        return 3;
    }
    if (docType == "webm") {
        return 4;
    }
    return 2;
}

// ---- SeekHead index ---------------------------------------------------------

std::uint64_t MatroskaReader::getSeekPosition() {
    ProcessEbml(false, READ);
    if (element.id != SEEK_POSITION) {
        return 0;
    }
    return ByteUtilities::bytesTo<std::uint64_t>(element.data.get(), static_cast<std::uint8_t>(element.size & 0xFF),
                                                 false);
}

bool MatroskaReader::getSeekData(SeekIndex& index, SeekHeadChain& chain) {
    if (!ProcessEbml(false, READ) || element.id != SEEK_ID) {
        return false;
    }
    const unsigned int seekId =
        ByteUtilities::bytesTo<unsigned int>(element.data.get(), static_cast<std::uint8_t>(element.size & 0xFF), false);
    const std::uint64_t seekPosition = getSeekPosition();
    // The search uses the Tracks entry alone: an index of every entry would
    // grow with whatever a file declares.
    if (seekId == Matroska::TRACKS) {
        index.emplace(seekId, seekPosition);
    }
    // Once Tracks is indexed no other SeekHead can change where it is.
    return seekId == Matroska::SEEKHEAD && index.count(Matroska::TRACKS) == 0 && followsSeekHeadAt(chain, targetOf(chain, seekPosition));
}

std::uint64_t MatroskaReader::targetOf(const SeekHeadChain& chain, const std::uint64_t seekPosition) {
    const std::uint64_t room = chain.fileEnd > chain.segmentDataStart ? chain.fileEnd - chain.segmentDataStart : 0;
    return seekPosition <= room ? chain.segmentDataStart + seekPosition : chain.fileEnd;
}

bool MatroskaReader::followsSeekHeadAt(SeekHeadChain& chain, const std::uint64_t target) {
    // Muxers chain a small SeekHead at the front to a full one further on, a
    // few more after edits. A handful of looks covers every real file, and
    // bounds what a file of thousands of SeekHead entries can cost; each
    // target is looked at once, so loops end.
    // The first entry of `lookedAt` is the front SeekHead, which is not a look.
    const auto& looked = chain.lookedAt;
    if (std::find(looked.begin(), looked.end(), target) != looked.end() || looked.size() > MAX_CHAINED_LOOKS) {
        return false;
    }
    chain.lookedAt.push_back(target);
    // The header must be right at the target: bytes passed over in front of
    // it would mean that the entry points somewhere else.
    const std::uint64_t returnPosition = cursor.position();
    cursor.seek(target);
    std::array<std::uint8_t, 8> field{};
    std::uint8_t firstSizeByte = 0;
    const bool seekHead = cursor.read(field.data(), 4) &&
                          ByteUtilities::bytesTo<unsigned int>(field.data(), 4, false) == Matroska::SEEKHEAD;
    const int sizeLength = seekHead ? ReadOneByteForLength(firstSizeByte, SIZE_LENGTH) : -1;
    if (sizeLength > 0 && cursor.read(field.data(), static_cast<std::uint64_t>(sizeLength)) &&
        ProcessEbml(false, READ) && element.id == SEEK) {
        chain.returnPositions.push_back(returnPosition);
        return true;
    }
    cursor.seek(returnPosition);
    return false;
}

void MatroskaReader::ListSeekPositions(SeekIndex& index, SeekHeadChain& chain) {
    // A chained SeekHead is read right where its entry is met, as if its list
    // were spliced in; the places to come back to live in `chain`.
    const std::size_t outerDepth = chain.returnPositions.size();
    for (;;) {
        while (element.id == SEEK) {
            if (!getSeekData(index, chain)) {
                ProcessEbml(false, READ);
            }
        }
        if (chain.returnPositions.size() == outerDepth) {
            return;
        }
        cursor.seek(chain.returnPositions.back());
        chain.returnPositions.pop_back();
        ProcessEbml(false, READ);
    }
}

// ---- Tracks search and listing ----------------------------------------------

bool MatroskaReader::CheckTracksFileBounds(const std::uint64_t lower, const std::uint64_t upper) {
    const std::uint64_t here = cursor.position();
    return lower <= here && here <= upper;
}

bool MatroskaReader::GetTrackInfo(const std::uint64_t tracksPosition) {
    if (!ProcessEbml(false, READ) || element.id != Matroska::TRACKS) {
        return false;
    }
    // Counted from where the Tracks header really ends, so that a Void or other
    // bytes passed over in front of Tracks do not cut the listing short.
    const std::uint64_t tracksEnd = cursor.position() + element.size;
    // The listing starts again at the Tracks header itself: whatever lay in
    // front of it has been passed over once already.
    cursor.seek(elementStart);
    while (ProcessEbml(false, READ, tracksEnd) && CheckTracksFileBounds(tracksPosition, tracksEnd)) {
        if (element.info.level != GLOBAL_LEVEL) {
            displayCurrentElementInformation();
        }
    }
    return true;
}

void MatroskaReader::searchTracksManually() {
    // The walk goes over the Segment's children whatever element it starts
    // from: anything below the top level is stepped over, the remains of a
    // damaged parent included, up to the first Tracks; a top-level element or
    // the end of the file ends it, whatever the Segment's size says. The
    // element last peeked at is the first one when it was peeked from here, and
    // each element is stepped over from its own start, so a gap in front of an
    // element is passed once.
    bool peeked = peekedFrom == cursor.position();
    for (;;) {
        if (!peeked && !ProcessEbml(true, PEEK)) {
            break;
        }
        peeked = false;
        if (element.id == Matroska::TRACKS) {
            std::cout << "TRACKs found.\n";
            const std::uint64_t tracksPosition = cursor.position();
            cursor.seek(elementStart);
            GetTrackInfo(tracksPosition);
            return;
        }
        if (element.info.level == 0) {
            break;
        }
        cursor.seek(elementStart);
        ProcessEbml(true, READ);
    }
    std::cout << "It seems there is no TRACKs. Therefore, this Matroska file is not playable.\n";
}

void MatroskaReader::goToTracks() {
    SeekIndex index;
    goToEbmlStart();
    if (!ProcessEbml(true, READ) || element.id != Ebml::HEADER) {
        std::cout << "EBML Header not present. This is not an EBML file\n";
        return;
    }
    if (!ProcessEbml(false, READ) || element.id != Matroska::SEGMENT) {
        std::cout << "SEGMENT not present\n";
        return;
    }
    SeekHeadChain chain;
    chain.segmentDataStart = cursor.position();
    chain.fileEnd = cursor.end();

    // Only a SeekHead that is the Segment's first known child is used.
    if (!stepOverTo(Matroska::SEEKHEAD) || !ProcessEbml(false, READ)) {
        std::cout << "SEEKHEAD not present\n" << "Searching TRACKs manually... ";
        searchTracksManually();
        return;
    }
    chain.lookedAt.push_back(elementStart);

    // Writers leave indexes that lead nowhere: an empty SeekHead, positions
    // off by a byte, placeholders never filled in, a Void cut out after the
    // index was written. Tracks is then still in the Segment, so an index that
    // does not lead to it gives way to the walk; a right one costs no more
    // than the jump.
    if (!ProcessEbml(false, READ) || element.id != SEEK) {
        std::cout << "SEEK entry not present\n";
    } else {
        ListSeekPositions(index, chain);
        const auto tracks = index.find(Matroska::TRACKS);
        if (tracks != index.end()) {
            const std::uint64_t tracksPosition = targetOf(chain, tracks->second);
            cursor.seek(tracksPosition);
            if (GetTrackInfo(tracksPosition)) {
                return;
            }
        }
    }
    std::cout << "Searching TRACKs manually... ";
    cursor.seek(chain.segmentDataStart);
    searchTracksManually();
}
