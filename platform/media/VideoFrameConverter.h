#pragma once
// Turns decoded pictures into VideoFrames of one pixel format, on the frame source's worker
// thread only (it keeps scaler state and a buffer pool between calls). For Native, pictures in
// planar or semi-planar YCbCr are wrapped as they are (one more reference to the decoder's
// buffers, no pixel touched); others are converted to BGRA.

#include "FFmpegSupport.h"
#include "VideoFrame.h"

struct SwsContext;

class VideoFrameConverter {
public:
    // threads: for the scaler's slices; 0 picks one per core.
    VideoFrameConverter(MediaPixelFormat format, int threads);
    ~VideoFrameConverter();
    VideoFrameConverter(const VideoFrameConverter&) = delete;
    VideoFrameConverter& operator=(const VideoFrameConverter&) = delete;

    // A new frame holding `picture` converted, stamped with `time`; nullptr when the picture
    // cannot be converted (unknown layout, no memory). The picture is not changed.
    VideoFrameRef convert(const AVFrame* picture, MediaTime time);
    // For Native: a frame holding the picture's own planes when the GPU takes them as they
    // are; nullptr otherwise (convert() then). Keeps no state, so any thread may call it.
    VideoFrameRef wrap(const AVFrame* picture, MediaTime time) const;

private:
    bool prepare(const AVFrame* picture);
    bool preparePool(const AVFrame* picture);
    bool packsDirectly(const AVFrame* picture) const;
    bool scale(const AVFrame* picture, AVBufferRef* buffer, int bytesPerRow);

    MediaPixelFormat format_;
    MediaPixelFormat packed_;  // what pictures that are not wrapped become
    int threads_;
    SwsContext* scaler_ = nullptr;
    AVPixelFormat scalerInput_ = AV_PIX_FMT_NONE;
    int scalerWidth_ = 0, scalerHeight_ = 0;
    AVChromaLocation scalerSiting_ = AVCHROMA_LOC_UNSPECIFIED;
    AVBufferPool* pool_ = nullptr;
    size_t poolSize_ = 0;
    MediaFFmpeg::FramePtr staging_;  // 16-bit intermediate for v210 and half-float output
};
