#pragma once
// Small media files made with the ffmpeg command on first use, in one temporary folder per test
// run (removed at exit). Every picture carries its frame number as a bar code in its top 16
// rows: bit b of the number is bright (luma 235) or dark (16) grey across x = 40b .. 40b + 39.

#include "VideoFrame.h"

#include <string>

namespace MediaFixtures {

// The path of a fixture, made if needed; fails the calling test (and answers "") when ffmpeg
// fails. Names:
//   counter25.mp4     320x240, 25 fps, 2 s, H.264 (key frame every 12, B-frames), BT.709 tags,
//                     stereo 440 Hz AAC
//   counter25from50.mp4, counter25from100.mp4
//                     counter25's picture numbered from 50 and from 100 (the movies that follow
//                     it), no audio
//   counter2997.mov   320x240, 30000/1001 fps, 2 s, H.264, no audio
//   rotated.mp4       counter2997 with a display matrix turning it a quarter counter-clockwise
//   bt2020.mp4        128x96, 10-bit H.264 tagged BT.2020
//   hap.mov           128x96, 25 fps, 1 s, Hap
//   prores.mov        128x96, 25 fps, 1 s, ProRes 422
//   captions.mp4      128x96, 1 s, H.264 with a timed-text caption track
//   six.wav           48 kHz, 2 s, 5.1 PCM: channel 0 = n mod 32000, channel 1 = n div 32000
//                     (as 16-bit sample values), channels 2..5 = 0.3 0.4 0.5 0.6
//   tone44k.wav       44.1 kHz, 1 s, mono 440 Hz
//   lateaudio.mov     2 s of picture; a 440 Hz mono tone that starts at 0.5 s
//   truncated.mp4     the first 60 % of counter25 written with its index first
//   headless.mp4      the first 60 % of counter25 with its index last (so without an index)
//   damaged.mp4       counter25 with garbage written over the middle of its picture data
//   notmedia.mov      a text file
std::string path(const std::string& name);

// A fixture folder's path for files a test makes itself.
std::string folder();

// Runs the ffmpeg command with `arguments` in the fixture folder; true when it succeeds.
bool ffmpeg(const std::string& arguments);

// The path of the file `name` in the fixture folder, made by `make` on first use; fails the
// calling test (and answers "") when `make` fails. For other tests' own fixtures: every name is
// made once per run, whoever asks.
std::string madePath(const std::string& name, bool (*make)(const std::string& name));

// The frame number a picture's bar code shows, for any of the pixel formats; -1 when the
// bar code cannot be read.
int frameNumberOf(const VideoFrame& frame);

// A picture's luma-like brightness at (x, y), 0..1, for any of the pixel formats.
double brightnessAt(const VideoFrame& frame, int x, int y);

}  // namespace MediaFixtures
