#pragma once
// A frame-sharing cue's receiver: a SyphonClient connected to one server description of the
// SyphonDirectory, its frames uploaded as BGRA textures on the client's PipeWire thread (the
// render thread only picks up the newest). Pictures are stored bottom row first, as the cue's
// layer renderer draws frame-sharing sources flipped.
//
// Threads: make and drop on the main thread; texture() from any thread.

#include "Cue/KavioLiveSourceInterfaces.h"

#include <QVariantMap>

#include <memory>

class GpuDevice;
class KavioSourceTexture;
class SyphonClient;

class KavioSyphonSource : public KavioTextureSourceInterface {
public:
    // Connects at once; without a device or a daemon it never shows a frame.
    KavioSyphonSource(const QVariantMap& description, std::shared_ptr<GpuDevice> device);
    ~KavioSyphonSource() override;

    const QVariantMap& serverDescription() const { return description_; }
    std::shared_ptr<GpuTexture> texture() override;
    std::uint64_t frameCount() const;

private:
    QVariantMap description_;
    std::shared_ptr<KavioSourceTexture> frames_;
    std::unique_ptr<SyphonClient> client_;  // last: its thread stops before the textures it feeds go
};
