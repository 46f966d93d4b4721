#include "Inspector/KavioInspectorSourceDirectories.h"

#include "Sources/KavioWindowSourceManager.h"
#include "CaptureDevice.h"
#include "Log.h"
#include "StrevalDirectory.h"
#include "SyphonDirectory.h"

#include <QCollator>
#include <QSysInfo>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>

namespace {

const QString kOwnName = QStringLiteral("Kavio");

class ProcessDirectories : public KavioInspectorSourceDirectories {
public:
    QVariantList ndiSources() override { return StrevalDirectory::sharedDirectory().listOfSources(); }
    QVariantList syphonServers() override { return SyphonDirectory::sharedDirectory().servers(); }
    QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> deckLinkDevices() override
    {
        const auto browser = KavioDeckLinkCaptureBrowserInterface::sharedBrowser();
        return browser ? browser->connectedDevices() : QList<std::shared_ptr<KavioDeckLinkCaptureDevice>>();
    }
    QList<CaptureDeviceInfo> captureDevices() override { return CaptureService::shared().devices(); }
    QList<QVariantList> windowSources() override { return KavioWindowSourceManager::sharedManager().listOfAvailableSources(); }
    std::optional<QList<KavioFormatMenuItem>> commonDeckLinkFormats(const QList<QStringList>& devices) override
    {
        return KavioCameraManager::sharedManager()->supportedCommonFormatsOfDecklinkDevices(devices);
    }
    void setVideoFormat(KavioVideoFormatRef format, const QString& name, const QString& deviceUID) override
    {
        KavioCameraManager::sharedManager()->setVideoFormat(std::move(format), name, deviceUID);
    }
    QString hostName() override { return QSysInfo::machineHostName(); }
};

std::mutex sharedMutex;
std::shared_ptr<KavioInspectorSourceDirectories> sharedDirectories;

void sortIgnoringCase(QStringList& titles)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(titles.begin(), titles.end(),
                     [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

}  // namespace

std::shared_ptr<KavioInspectorSourceDirectories> KavioInspectorSourceDirectories::shared()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedDirectories)
        sharedDirectories = std::make_shared<ProcessDirectories>();
    return sharedDirectories;
}

void KavioInspectorSourceDirectories::setShared(std::shared_ptr<KavioInspectorSourceDirectories> directories)
{
    std::lock_guard lock(sharedMutex);
    sharedDirectories = std::move(directories);
}

QStringList KavioSourceMenus::ndiTitles(const QVariantList& sources, const QString& hostName)
{
    // NDI names a sender "<HOST> (<name>)" with the host's first label in upper case.
    const QString host = hostName.section(QLatin1Char('.'), 0, 0);
    static const QRegularExpression ownOutput(QStringLiteral("^(.*) \\(Kavio NDI #\\d+\\)$"));
    QStringList titles;
    for (const QVariant& source : sources) {
        const QString name = source.toMap().value(StrevalDirectory::kSourceName).toString();
        if (name == kOwnName)
            continue;
        const QRegularExpressionMatch own = ownOutput.match(name);
        if (own.hasMatch() && own.captured(1).compare(host, Qt::CaseInsensitive) == 0)
            continue;
        titles << name;
    }
    sortIgnoringCase(titles);
    return titles;
}

QStringList KavioSourceMenus::syphonTitles(const QVariantList& servers)
{
    QStringList titles;
    for (const QVariant& server : servers) {
        const QVariantMap description = server.toMap();
        // The daemon names an application after its executable ("kavio") unless told otherwise.
        if (description.value(SyphonDirectory::kAppNameKey).toString().compare(kOwnName, Qt::CaseInsensitive) == 0)
            continue;
        titles << SyphonDirectory::displayName(description);
    }
    sortIgnoringCase(titles);
    return titles;
}

QList<KavioSourceMenuEntry> KavioSourceMenus::captureEntries(const QList<std::shared_ptr<KavioDeckLinkCaptureDevice>>& deckLink,
                                                             const QList<CaptureDeviceInfo>& devices)
{
    QList<KavioSourceMenuEntry> entries;
    QStringList deckLinkTitles;
    for (const auto& device : deckLink) {
        if (!device || !device->captureSupported())
            continue;
        entries.append({device->displayName(), device->uid()});
        deckLinkTitles << device->displayName();
    }
    for (const CaptureDeviceInfo& device : devices) {
        // A DeckLink input the system also lists is shown once, as the DeckLink input.
        if (deckLinkTitles.contains(device.name))
            continue;
        KLOG_VERBOSE("current name: {}", device.name.toStdString());
        entries.append({device.name, device.uid.isEmpty() ? std::nullopt : std::optional<QString>(device.uid)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const KavioSourceMenuEntry& a, const KavioSourceMenuEntry& b) {
        return QString::compare(a.title, b.title, Qt::CaseSensitive) < 0;
    });
    return entries;
}

QString KavioSourceMenus::nameWithoutDisconnected(QString title)
{
    return title.remove(kKavioDisconnectedSuffix);
}
