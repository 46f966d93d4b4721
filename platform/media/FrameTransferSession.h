#pragma once
// Converts frames of a live source into 'v210' (10-bit 4:2:2) for the high-bit-depth pipeline,
// keeping its scaler between calls. One session per consumer; one thread at a time.
//
// Takes BGRA and '2vuy' frames ('v210' comes back as it is; half-float RGBA is refused). A frame whose
// size or row length does not fit its format, or that is larger than 16384 a side, is refused:
// the session never reads past a frame's rows.

#include "VideoFrame.h"

struct SwsContext;

class FrameTransferSession {
public:
    FrameTransferSession();
    ~FrameTransferSession();
    FrameTransferSession(const FrameTransferSession&) = delete;
    FrameTransferSession& operator=(const FrameTransferSession&) = delete;

    // A new 'v210' frame holding `frame`, with its presentation time; nullptr when it cannot be
    // converted.
    VideoFrameRef transferToV210(const VideoFrame& frame);

private:
    SwsContext* scaler_ = nullptr;
};
