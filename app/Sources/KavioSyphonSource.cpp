#include "Sources/KavioSyphonSource.h"

#include "Sources/KavioSourceTexture.h"
#include "Log.h"
#include "SyphonClient.h"
#include "SyphonDirectory.h"

KavioSyphonSource::KavioSyphonSource(const QVariantMap& description, std::shared_ptr<GpuDevice> device)
    : description_(description)
    , frames_(std::make_shared<KavioSourceTexture>(std::move(device), "syphon source"))
    , client_(std::make_unique<SyphonClient>())
{
    client_->setFrameHandler([frames = frames_](const QImage& frame) { frames->publish(frame.mirrored()); });
    const QString server = description.value(SyphonDirectory::kNameKey).toString();
    if (!client_->connectToServer(server))
        KLOG_WARN("cannot receive frame-sharing source {}", server.toStdString());
}

KavioSyphonSource::~KavioSyphonSource() = default;

std::shared_ptr<GpuTexture> KavioSyphonSource::texture()
{
    return frames_->texture();
}

std::uint64_t KavioSyphonSource::frameCount() const
{
    return frames_->frameCount();
}
