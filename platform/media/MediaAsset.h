#pragma once
// What a media file holds: its precise duration and its tracks, read once when it is opened.
//
// A MediaAsset is an immutable snapshot: open() demuxes the headers (and probes the first
// packets where the container needs it), keeps the results and closes the file again, so an
// asset can be shared between threads and kept as long as anyone likes. Decoding is done by
// VideoFrameSource and AudioSampleReader, which open the file on their own.

#include "MediaError.h"
#include "MediaTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Four-character codes as big-endian numbers: fourCC("avc1") == 0x61766331.
constexpr uint32_t fourCC(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}
// "avc1" for 0x61766331; a code with unprintable bytes is written as its decimal number.
std::string fourCCString(uint32_t code);

enum class MediaTrackKind { Video, Audio, Caption, Timecode, Other };

// The YCbCr matrix a video track is tagged with (untagged tracks report Unspecified).
enum class MediaColorMatrix { Unspecified, ITU_R_601, ITU_R_709, ITU_R_2020, SMPTE_240M };

struct MediaTrack {
    int index = 0;  // stream index in the file
    MediaTrackKind kind = MediaTrackKind::Other;
    // The format's subtype as the codec tables of the program know it: 'avc1', 'hvc1', 'apcn',
    // 'Hap1', 'HapY', 'jpeg' for video; 'aac ', 'lpcm', '.mp3', 'alac', 'ac-3' for audio;
    // 'tx3g', 'c608', 'SRT ' for captions; 'tmcd' for timecode. 0 when none is known.
    uint32_t codecType = 0;
    std::string codecName;  // the decoder library's short name ("h264", "prores", "pcm_s16le")
    bool decodable = false;  // the decoder library has a decoder for it
    std::string language;   // ISO 639 code from the file, empty when none
    MediaTime duration;     // the track's own length; invalid when the file does not say

    // Video.
    int width = 0, height = 0;   // coded picture size in pixels
    double pixelAspect = 1.0;    // horizontal / vertical spacing
    float nominalFrameRate = 0;  // frames per second (29.97 for 30000/1001); 0 if unknown
    MediaTime minFrameDuration;  // one frame at the nominal rate; invalid if unknown
    MediaColorMatrix colorMatrix = MediaColorMatrix::Unspecified;
    bool fullRange = false;  // YCbCr uses the full 0..255 range
    bool hasAlpha = false;
    bool interlaced = false;   // two fields per frame
    int bitsPerComponent = 0;  // 0 when the codec does not say
    // Clockwise turn, in degrees, the picture needs for display (0, 90, 180, -90).
    double rotationDegrees = 0;

    // Audio.
    int channelCount = 0;
    std::string channelLayout;  // "stereo", "5.1(side)", "6 channels"
    uint64_t channelMask = 0;   // speaker bits of the layout, 0 when the channels are unnamed
    int sampleRate = 0;
    bool isHEAAC = false;  // 'aac ' with spectral band replication
};

class MediaAsset {
public:
    // Reads the file's headers. Never throws; on failure answers nullptr and fills *error (when
    // given) with the cause: FileNotFound, Unreadable or NotMedia. A file that opens but has no
    // audio or video track is still an asset (its tracks tell). Any thread.
    static std::shared_ptr<const MediaAsset> open(const std::string& path,
                                                  MediaError* error = nullptr);

    const std::string& path() const { return path_; }
    // The longest track, measured from the file's start; invalid when no track tells its length.
    // Taken from the tracks' own time bases, so it is exact (48000 frames at 48 kHz is 1 s).
    MediaTime duration() const { return duration_; }
    const std::vector<MediaTrack>& tracks() const { return tracks_; }
    std::vector<const MediaTrack*> tracksOfKind(MediaTrackKind kind) const;
    // The first track of a kind, as the playback layer uses it; nullptr when none.
    const MediaTrack* firstVideoTrack() const;
    const MediaTrack* firstAudioTrack() const;

    bool hasVideo() const { return firstVideoTrack() != nullptr; }
    bool hasAudio() const { return firstAudioTrack() != nullptr; }
    // The first video track is Hap (any of its four kinds).
    bool isHap() const;
    // Of the first video track; 0 / an empty size without one.
    float nominalFrameRate() const;
    int naturalWidth() const;
    int naturalHeight() const;
    MediaColorMatrix colorMatrix() const;

private:
    MediaAsset() = default;
    std::string path_;
    MediaTime duration_;
    std::vector<MediaTrack> tracks_;
};
