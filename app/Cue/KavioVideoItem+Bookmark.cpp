#include "Cue/KavioVideoItem.h"

#include "ImportedClasses/QVTPathChangeWatcher.h"
#include "Inspector/KavioVideoItemPreferencesControllerInterface.h"

#include "DispatchQueue.h"
#include "FileBookmark.h"
#include "FileWatch.h"
#include "Log.h"
#include "MediaPlayer.h"
#include "NotificationCenter.h"

#include <QFileInfo>

namespace {

// True when `changed` is `path` itself or one of its folders: "/show/a" is a folder of
// "/show/a/clip.mov" but not of "/show/ab/clip.mov".
bool isPathOrFolderOf(const QString& changed, const QString& path)
{
    if (changed.isEmpty() || !path.startsWith(changed))
        return false;
    return path.size() == changed.size() || changed.endsWith(QLatin1Char('/')) ||
           path.at(changed.size()) == QLatin1Char('/');
}

}  // namespace

void KavioVideoItem::bookmarkMediaPath()
{
    QString error;
    setBookmarkdata(FileBookmark::create(mediaPath(), &error));
    if (bookmarkdata().isEmpty())
        KLOG_VERBOSE("error creating bookmark data: {}", error.toStdString());
}

void KavioVideoItem::startWatcher()
{
    bookmarkMediaPath();
    startWatchForPatchChange();
    if (fileWatch_)
        KLOG_VERBOSE("filehandle is already exists, so at the next step it will be deallocted and the descriptor "
                     "will be closed");
    const auto weak = weak_from_this();
    fileWatch_ = FileWatch::open(
        resolvedPathForPath(mediaPath()),
        [weak] {
            if (const auto cue = weak.lock()) {
                KLOG_VERBOSE("dispatch source called on {}", cue->mediaPath().toStdString());
                cue->handleFileRemoved();
            }
        },
        [weak] {
            if (const auto cue = weak.lock())
                cue->releasePlayers();
        });
}

void KavioVideoItem::stopWatcher()
{
    if (fileWatch_)
        fileWatch_->cancel();
}

bool KavioVideoItem::isWatchingFile() const
{
    return fileWatch_ && !fileWatch_->isCancelled();
}

void KavioVideoItem::releasePlayers()
{
    KLOG_VERBOSE("cleanup after file was removed...");
    fileWatch_.reset();
    releaseVideoOutputs();
    for (auto* player : {&normalVideoPlayer_, &loopHelperVideoPlayer_}) {
        if (!*player)
            continue;
        (*player)->cancelPendingPrerolls();
        if (player->get() == timeJumpedPlayer_)
            observeTimeJumpsOf(nullptr);
        player->reset();
    }
    setPlayerSet(nullptr, nullptr);
    for (const auto& audio : {audioPlayer(), loopHelperAudioPlayer_}) {
        if (!audio)
            continue;
        audio->stop();
        audio->removeResources();
    }
    setAudioPlayer(nullptr);
    normalAudioPlayer_.store(nullptr);
    loopHelperAudioPlayer_.reset();
}

void KavioVideoItem::startWatchForPatchChange()
{
    NotificationCenter& center = NotificationCenter::defaultCenter();
    if (pathChangeToken_)
        center.removeObserver(pathChangeToken_);
    pathChangeToken_ = center.addObserver(
        this, kKavioWatchedFilepathChangedNotification, nullptr,
        [weak = weak_from_this()](const Notification& notification) {
            const auto cue = weak.lock();
            const QString changed = notification.userInfo.value(kKavioChangedFilepathKey).toString();
            if (!cue || !isPathOrFolderOf(changed, cue->mediaPath()))
                return;
            KLOG_VERBOSE("file path changed: {}", changed.toStdString());
            // The path watcher posts from its own thread; the cue's players live on the main one.
            // A file and its folders may all fire for one change: once the first report has
            // moved the cue on, the others no longer concern it.
            DispatchQueue::main().async([weak, changed] {
                if (const auto alive = weak.lock(); alive && isPathOrFolderOf(changed, alive->mediaPath()))
                    alive->handleFileRemoved();
            });
        });
    // Watched once the cue listens, so no change falls between the two.
    QVTPathChangeWatcher::sharedWatcher().watchPathForChange(mediaPath());
}

void KavioVideoItem::handleFileRemoved()
{
    std::optional<FileBookmark::Resolved> resolved;
    if (!bookmarkdata().isEmpty()) {
        QString error;
        resolved = FileBookmark::resolve(bookmarkdata(), &error);
        if (!resolved)
            KLOG_VERBOSE("error on resolving bookmark data: {}", error.toStdString());
    }
    const auto controller = manager();
    const bool isCurrent = controller && controller->currentItem().get() == this;
    if (resolved && QFileInfo(resolved->path).isFile()) {
        setMediaPath(resolved->path);
        if (isCurrent) {
            queueOnMain([](KavioVideoItem& cue) {
                const auto owner = cue.manager();
                auto* inspector = owner ? owner->itemPreferencesController() : nullptr;
                if (inspector && inspector->currentItem().get() == &cue)
                    inspector->pullCurrentItemData();
                cue.refreshTitle();
            });
        }
        if (resolved->isStale)
            bookmarkMediaPath();
        startWatchForPatchChange();
        return;
    }
    KLOG_VERBOSE("file seems to be removed!");
    setIsMissing(true);
    hasvideoerror_ = true;
    if (isPlaying()) {
        pausePlayersWithPreroll(false);
        if (isCurrent)
            controller->stopPlaybackWithCompletedHandler({});
    }
    if (isCurrent)
        NotificationCenter::defaultCenter().post(kKavioRefreshWaveformViewNotification);
    stopWatcher();
}
