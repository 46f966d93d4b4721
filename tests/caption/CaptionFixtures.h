#pragma once
// Caption files written by the tests into a fresh folder beside a (not necessarily real) movie.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

struct CaptionFolder {
    QTemporaryDir dir;

    QString path(const QString& name) const { return dir.filePath(name); }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(path(name)); }
    void write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
};
