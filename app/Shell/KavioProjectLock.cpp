#include "Shell/KavioProjectLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

namespace {
QString canonicalOrAbsolute(const QString& path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // A file not written yet: its folder's canonical path and its name.
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? info.absolutePath() : folder) + QLatin1Char('/') + info.fileName();
}
}  // namespace

KavioProjectLock::KavioProjectLock(const QString& projectPath)
    : projectPath_(projectPath), lock_(std::make_unique<QLockFile>(lockFilePath(projectPath)))
{
    // Stale locks are recognised by their process having ended, never by age: a show may run
    // for days.
    lock_->setStaleLockTime(0);
    lock_->tryLock(0);
}

KavioProjectLock::~KavioProjectLock() = default;

bool KavioProjectLock::isLocked() const
{
    return lock_->isLocked();
}

QString KavioProjectLock::lockFilePath(const QString& projectPath)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    folder += QStringLiteral("/kavio-locks");
    QDir().mkpath(folder);
    const QByteArray hash =
        QCryptographicHash::hash(canonicalOrAbsolute(projectPath).toUtf8(), QCryptographicHash::Sha1).toHex();
    return folder + QLatin1Char('/') + QString::fromLatin1(hash) + QStringLiteral(".lock");
}
