#pragma once
// The player tests' own media files, made with the ffmpeg command in the media fixtures' folder
// on first use (see MediaFixtures.h for the shared ones). Names:
//   counter10.mp4       160x120, 10 fps, 3 s, H.264 (key frame every 10, B-frames)
//   hap1080.mov         1920x1080, 25 fps, 3 frames, Hap (one snappy section per frame)
//   hapchunked1080.mov  the same cut into 4 snappy chunks per frame
//   hapraw.mov          128x96, Hap without second-stage compression
//   hapalpha.mov        128x96, 25 fps, 1 s, Hap Alpha
//   hapq.mov            128x96, 25 fps, 1 s, Hap Q
//   hapdamaged.mov      MediaFixtures' hap.mov with garbage over the middle of its frames

#include <string>

namespace PlayerFixtures {

// The fixture's path; fails the calling test (and answers "") when it cannot be made.
std::string path(const std::string& name);

}  // namespace PlayerFixtures
