#pragma once
// An NDI cue's receiver as the cue reads it: the framework's QVTNDIReceiver behind the cue's
// receiver interface (the framework cannot see the program's interfaces). Same threads as the
// receiver: the cue's NDI queue for video, its audio path for audio.

#include "Cue/KavioLiveSourceInterfaces.h"

#include "QVTNDIReceiver.h"

class KavioNDIReceiverSource : public KavioNDIReceiverInterface {
public:
    explicit KavioNDIReceiverSource(std::shared_ptr<QVTNDIReceiver> receiver) : receiver_(std::move(receiver)) {}
    // Ends the connection: the receiver is not used afterwards.
    ~KavioNDIReceiverSource() override { receiver_->removeResources(); }

    VideoFrameRef pixelBuffer() override { return receiver_->pixelBuffer(); }
    bool hasAlpha() const override { return receiver_->hasAlpha(); }
    bool isYUV() const override { return receiver_->isYUV(); }
    std::shared_ptr<const PcmBuffer> audioPCMBuffer() override { return receiver_->audioPCMBuffer(); }
    QVTNDIReceiver& receiver() const { return *receiver_; }

private:
    std::shared_ptr<QVTNDIReceiver> receiver_;
};
