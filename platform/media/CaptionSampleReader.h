#pragma once
// The samples of a caption or subtitle track, in file order, each as the movie file stores it:
// closed captions (CEA-608) as a caption-data atom (32-bit big-endian size, "cdat" for field 1
// or "cdt2" for field 2, then the byte pairs); timed text as a 16-bit big-endian text length
// followed by the UTF-8 text (and any style boxes).

#include "MediaError.h"
#include "MediaTime.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct CaptionSample {
    MediaTime presentationTime;  // on the file's time line, 0 at its start
    MediaTime duration;          // invalid when the file does not say
    std::vector<uint8_t> data;
};

class CaptionSampleReader {
public:
    ~CaptionSampleReader();
    CaptionSampleReader(const CaptionSampleReader&) = delete;
    CaptionSampleReader& operator=(const CaptionSampleReader&) = delete;

    // Opens the track with that stream index (MediaTrack::index) of a caption kind. nullptr, with
    // the cause in *error, when the file cannot be read or the stream is not a caption track.
    static std::unique_ptr<CaptionSampleReader> open(const std::string& path, int streamIndex,
                                                     MediaError* error = nullptr);

    // The next sample; nullopt at the end of the track or when the file cannot be read further.
    std::optional<CaptionSample> next();

    struct Impl;

private:
    explicit CaptionSampleReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
