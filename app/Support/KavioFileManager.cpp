#include "Support/KavioFileManager.h"

#include "Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace KavioFileManager {

namespace {
const QString kService = QStringLiteral("org.freedesktop.FileManager1");

bool showThroughFileManager1(const QUrl& file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(kService))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/org/freedesktop/FileManager1"),
                                                       kService, QStringLiteral("ShowItems"));
    call << QStringList{file.toString(QUrl::FullyEncoded)} << QString();
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        KLOG_WARN("file manager refused to show {}: {}", file.toString().toStdString(), reply.errorMessage().toStdString());
        return false;
    }
    return true;
}
}  // namespace

bool showItem(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return false;
    const QUrl file = QUrl::fromLocalFile(info.absoluteFilePath());
    if (showThroughFileManager1(file))
        return true;
    return QDesktopServices::openUrl(QUrl::fromLocalFile(info.absolutePath()));
}

}  // namespace KavioFileManager
