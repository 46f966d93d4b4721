#pragma once
// Live directories as the test sets them, installed as the process's for the test's length, and
// recording the formats the inspector applies.

#include "../sources/SourcesTestSupport.h"

#include "Inspector/KavioInspectorSourceDirectories.h"
#include "StrevalDirectory.h"
#include "SyphonDirectory.h"

namespace InspectorTest {

struct FakeSourceDirectories : KavioInspectorSourceDirectories {
    QVariantList ndi, syphon;
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> deckLink;
    QList<CaptureDeviceInfo> capture;
    QList<QVariantList> windows;
    QList<KavioFormatMenuItem> formats;
    QString host = QStringLiteral("stage-1.local");
    struct Applied {
        KavioVideoFormatRef format;
        QString name, uid;
    };
    QList<Applied> applied;

    QVariantList ndiSources() override { return ndi; }
    QVariantList syphonServers() override { return syphon; }
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> deckLinkDevices() override { return deckLink; }
    QList<CaptureDeviceInfo> captureDevices() override { return capture; }
    QList<QVariantList> windowSources() override { return windows; }
    std::optional<QList<KavioFormatMenuItem>> commonDeckLinkFormats(const QList<QStringList>&) override { return formats; }
    void setVideoFormat(KavioVideoFormatRef format, const QString& name, const QString& uid) override
    {
        applied.append({std::move(format), name, uid});
    }
    QString hostName() override { return host; }

    static QVariantMap ndiSource(const QString& name) { return {{StrevalDirectory::kSourceName, name}}; }
    static QVariantMap server(const QString& app, const QString& name)
    {
        return {{SyphonDirectory::kAppNameKey, app}, {SyphonDirectory::kNameKey, name}};
    }
};

// Installs the directories as the process's while it lives.
struct InstalledDirectories {
    std::shared_ptr<FakeSourceDirectories> fake = std::make_shared<FakeSourceDirectories>();
    InstalledDirectories() { KavioInspectorSourceDirectories::setShared(fake); }
    ~InstalledDirectories() { KavioInspectorSourceDirectories::setShared(nullptr); }
    FakeSourceDirectories* operator->() const { return fake.get(); }
};

inline std::shared_ptr<FakeDeckLinkDevice> deckLinkInput(const QString& name, std::int64_t persistent, std::int64_t topological,
                                                         bool captures = true)
{
    auto device = std::make_shared<FakeDeckLinkDevice>();
    device->name = name;
    device->persistent = persistent;
    device->topological = topological;
    device->captures = captures;
    return device;
}

}  // namespace InspectorTest
