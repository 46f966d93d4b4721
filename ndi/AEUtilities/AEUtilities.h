#pragma once
// Audio formats, component descriptions, channel sets, rate-limited error logging and audio
// files (read and written through FFmpeg).

#include "AEAudioTypes.h"

#include <QVariant>

#include <cstdint>
#include <string>

// The default format: 32-bit float, packed, non-interleaved (one buffer per channel), stereo,
// sample rate 0 (unset).
extern const AudioStreamBasicDescription AEAudioDescription;

// AEAudioDescription with the channel count and sample rate replaced.
AudioStreamBasicDescription AEAudioDescriptionWithChannelsAndRate(int channels, double rate);

AudioComponentDescription AEAudioComponentDescriptionMake(uint32_t manufacturer, uint32_t type, uint32_t subtype);

// A range of channel indices, first and last included.
struct AEChannelSet {
    int32_t firstChannel;
    int32_t lastChannel;
};
extern const AEChannelSet AEChannelSetDefault;  // {0, 1}
Q_DECLARE_METATYPE(AEChannelSet)

// Boxing of a channel set for records and property lists.
namespace AEChannelSetValue {
QVariant valueWithChannelSet(AEChannelSet set);
// {0, 0} when the value holds no channel set.
AEChannelSet channelSetValue(const QVariant& value);
}  // namespace AEChannelSetValue

// Whether a message may be logged now: at most 9 in each window of one second; the 10th logs
// "TAAE: Suppressing some messages" once and is refused. Any thread.
bool AERateLimit();

// Logs a failed call with its status (also as four characters when it reads as such), rate
// limited. Answers whether `status` was an error (non-zero).
bool AEError(int32_t status, const char* operation, const char* file, int line);

// ---- Audio files --------------------------------------------------------------------------

// Our stand-in for the platform's extended audio file: a reader or a writer that converts
// between the file's own encoding and a client format of 32-bit float samples.
struct AEExtAudioFile;

// A failure of the file functions: the status and a description.
struct AEFileError {
    int32_t code = 0;
    std::string description;
};

enum AEAudioFileType : int {
    AEAudioFileTypeAIFFFloat32 = 0,  // 32-bit float AIFF-C
    AEAudioFileTypeAIFFInt16 = 1,
    AEAudioFileTypeWAVInt16 = 2,
    AEAudioFileTypeM4A = 3,  // AAC in an M4A file
};

// Creates (replacing) a file for writing, with the client format set to the default format for
// `channelCount` and `sampleRate`. Null and *error on failure ("Couldn't prepare the output
// format (error %d/%4.4s)", "Couldn't open the output file", "Couldn't configure the file
// writer"). Close it with AEExtAudioFileDispose, which finishes the file.
AEExtAudioFile* AEExtAudioFileCreate(const std::string& path, AEAudioFileType fileType, double sampleRate,
                                     int channelCount, AEFileError* error);

// Opens a file for reading. The client format becomes the default format with the file's
// channel count and rate; *outLength gets the length in frames (0 when the file does not say).
// Null and *error on failure ("Couldn't open source file", "Couldn't read source file",
// "Couldn't configure file for reading").
AEExtAudioFile* AEExtAudioFileOpen(const std::string& path, AudioStreamBasicDescription* outClientFormat,
                                   uint64_t* outLength, AEFileError* error);

// The format that reads deliver and writes take: 32-bit float, interleaved or not, any channel
// count and (for reading) any rate, which the file converts to. Answers 0 or an error status.
int32_t AEExtAudioFileSetClientFormat(AEExtAudioFile* file, const AudioStreamBasicDescription* format);

// Reads up to *ioFrames frames into `list` (in the client format); *ioFrames becomes what was
// read, 0 at the end of the file. Answers 0 or an error status.
int32_t AEExtAudioFileRead(AEExtAudioFile* file, uint32_t* ioFrames, const AudioBufferList* list);

// Writes `frames` frames of `list` (in the client format). Answers 0 or an error status.
int32_t AEExtAudioFileWrite(AEExtAudioFile* file, uint32_t frames, const AudioBufferList* list);

// Finishes a written file and releases the file object. Answers 0 or an error status.
int32_t AEExtAudioFileDispose(AEExtAudioFile* file);
