#pragma once
// What the inspector's Source and Window sections read of the live directories, and the rules
// that turn their lists into menu entries. The process's directories stand behind
// KavioInspectorSourceDirectories::shared(); tests give fakes. The menu rules are plain functions
// of the lists, so they hold whatever the names contain (" - ", " / ", empty names are text).
// Main thread.

#include "Sources/KavioCameraManager.h"
#include "Sources/KavioDeckLinkCaptureInterface.h"
#include "CaptureDevice.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <memory>
#include <optional>

// The suffix of a saved source that is absent now.
inline const QString kKavioDisconnectedSuffix = QStringLiteral(" - DISCONNECTED");

class KavioInspectorSourceDirectories {
public:
    virtual ~KavioInspectorSourceDirectories() = default;

    // NDI sources as the directory lists them ({"kQVTNDISourceName", ...}).
    virtual QVariantList ndiSources() = 0;
    // Frame-sharing server descriptions ({name, application name, ...}).
    virtual QVariantList syphonServers() = 0;
    // The connected DeckLink devices, capture or not.
    virtual QList<std::shared_ptr<KavioDeckLinkCaptureDevice>> deckLinkDevices() = 0;
    // The system's capture devices.
    virtual QList<CaptureDeviceInfo> captureDevices() = 0;
    // Capturable windows as [title, window id], in the manager's order.
    virtual QList<QVariantList> windowSources() = 0;
    // The capture-device manager's formats common to the [name, UID] devices; nullopt without a
    // usable DeckLink device among them.
    virtual std::optional<QList<KavioFormatMenuItem>> commonDeckLinkFormats(const QList<QStringList>& devices) = 0;
    // Has the capture-device manager capture the device in that format.
    virtual void setVideoFormat(KavioVideoFormatRef format, const QString& name, const QString& deviceUID) = 0;
    // This machine's name as NDI sources carry it.
    virtual QString hostName() = 0;

    // The process's directories (the real ones unless a test set others).
    static std::shared_ptr<KavioInspectorSourceDirectories> shared();
    static void setShared(std::shared_ptr<KavioInspectorSourceDirectories> directories);
};

// An entry of the capture menu: a title and the identifier the cue keeps (none for a device
// without one).
struct KavioSourceMenuEntry {
    QString title;
    std::optional<QString> identifier;
    bool operator==(const KavioSourceMenuEntry&) const = default;
};

namespace KavioSourceMenus {

// The NDI menu's titles: every named source but this program's own outputs (a source named
// "Kavio", or "Kavio NDI #<n>" from this host), sorted without regard to case.
QStringList ndiTitles(const QVariantList& sources, const QString& hostName);
// "<application> - <server>" of every server not published by this program (application
// "Kavio", or one of its own "Kavio Syphon #<n>" outputs), sorted without regard to case.
QStringList syphonTitles(const QVariantList& servers);
// DeckLink inputs that capture (identifier: persistent ID, else topological ID, else empty),
// then the system's devices not already listed under that name, sorted by a literal comparison
// of the titles (upper case first).
QList<KavioSourceMenuEntry> captureEntries(const QList<std::shared_ptr<KavioDeckLinkCaptureDevice>>& deckLink,
                                           const QList<CaptureDeviceInfo>& devices);
// The name a chosen entry stands for: every " - DISCONNECTED" removed.
QString nameWithoutDisconnected(QString title);

}  // namespace KavioSourceMenus

Q_DECLARE_METATYPE(KavioVideoFormatRef)
