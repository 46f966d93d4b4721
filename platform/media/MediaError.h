#pragma once
// How opening or reading media failed. Every operation of this layer that can fail reports one
// of these instead of throwing; a default-constructed value means success.

#include <string>

enum class MediaErrorCode {
    None = 0,
    FileNotFound,  // nothing at the path
    Unreadable,    // exists, but cannot be opened or read (permissions, a folder, I/O error)
    NotMedia,      // read, but no container format recognises it (also: truncated headers)
    NoSuchTrack,   // the file has no track of the requested kind
    NoDecoder,     // the track's codec cannot be decoded here
    DecodeFailed,  // the decoder or demuxer failed for good
    WriteFailed,   // the destination cannot be made or written, or the encoder refuses the input
    Cancelled,     // the work was cancelled before it ended
};

struct MediaError {
    MediaErrorCode code = MediaErrorCode::None;
    std::string message;  // for logs and alerts: names the file and the cause

    explicit operator bool() const { return code != MediaErrorCode::None; }
};
