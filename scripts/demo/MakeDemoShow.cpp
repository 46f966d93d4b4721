// kavio-make-demo <show.kavio2> <media>...: writes a project file whose cue list holds one cue
// per media file, in order, each made by the cue list controller as the program makes a cue from
// a chosen file, and the controller's playlist archive under "playlistData". A file no cue can
// be made of is left out with a warning; no cue at all is a failure.

#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "KeyedArchive.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: kavio-make-demo <show.kavio2> <media>...\n");
        return 2;
    }
    DispatchQueue::main();
    // The helper's own settings, so the operator's are left alone.
    QTemporaryDir settings;
    UserDefaults defaults(settings.filePath("Kavio.conf"));
    const auto controller = KavioVideoItemManager::init(defaults);

    for (int i = 2; i < arguments.size(); ++i) {
        const QString path = QFileInfo(arguments.at(i)).absoluteFilePath();
        const auto cue = controller->createItemWithPath(path);
        if (!cue || !DispatchQueue::runMainUntil([&cue] { return cue->isReady() || cue->isMissing(); }, 60) ||
            cue->isMissing()) {
            std::fprintf(stderr, "kavio-make-demo: warning: no cue can be made of %s; left out\n", qPrintable(path));
            if (cue)
                controller->removeItems({cue}, {});
        }
    }
    const QVariantMap playlist = controller->saveData();
    if (playlist.isEmpty())
        return 1;

    QString error;
    const QByteArray archive = KeyedArchive::archive(QVariantMap{{"QLData", QVariantMap()}, {"playlistData", playlist}}, &error);
    QSaveFile file(arguments.at(1));
    if (archive.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size() || !file.commit()) {
        std::fprintf(stderr, "kavio-make-demo: %s\n", qPrintable(archive.isEmpty() ? error : file.errorString()));
        return 1;
    }
    return 0;
}
