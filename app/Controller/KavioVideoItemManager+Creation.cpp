#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioAlert.h"
#include "Views/KavioItemsViewInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "MediaAsset.h"
#include "NotificationCenter.h"
#include "UndoManager.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>

namespace {

const QString kPDFPageKey = QStringLiteral("KavioItemPDFPageKey");

// The kind a request makes: a record's "mediaType" first, then the path's token; anything else
// is a file.
int requestedMediaType(const QString& path, const QVariantMap& record)
{
    if (path == QLatin1String("KAVIO_CAMERA"))
        return KavioMediaTypeCamera;
    const bool typed = record.contains(QStringLiteral("mediaType"));
    const int type = typed ? record.value(QStringLiteral("mediaType")).toInt() : -1;
    const std::pair<const char*, KavioMediaType> tokens[] = {{"KAVIO_CAMERA", KavioMediaTypeCamera},
                                                            {"KAVIO_SYPHON", KavioMediaTypeSyphon},
                                                            {"KAVIO_NDI", KavioMediaTypeNDI},
                                                            {"KAVIO_BROWSER", KavioMediaTypeBrowser},
                                                            {"KAVIO_WINDOW", KavioMediaTypeWindow}};
    for (const auto& [token, kind] : tokens)
        if (path == QLatin1String(token) || (typed && type == kind))
            return kind;
    return KavioMediaTypeMovie;
}

}  // namespace

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::createItemWithPath(const QString& path,
                                                                          const QVariantMap& restoreData, int mode)
{
    KLOG_INFO("createItemWithPath: {}", path.toStdString());
    if (path.isEmpty())
        return nullptr;
    const auto self = shared_from_this();
    const int type = requestedMediaType(path, restoreData);
    const bool token = path.startsWith(QLatin1String("KAVIO_"));
    using LiveInitialiser = std::shared_ptr<KavioVideoItem> (*)(const QString&,
                                                                const std::shared_ptr<KavioVideoItemManagerInterface>&);
    const std::pair<int, LiveInitialiser> live[] = {{KavioMediaTypeCamera, &KavioVideoItem::initWithCamera},
                                                    {KavioMediaTypeSyphon, &KavioVideoItem::initWithSyphon},
                                                    {KavioMediaTypeNDI, &KavioVideoItem::initWithNDI},
                                                    {KavioMediaTypeBrowser, &KavioVideoItem::initWithBrowser},
                                                    {KavioMediaTypeWindow, &KavioVideoItem::initWithWindow}};
    std::shared_ptr<KavioVideoItem> cue;
    const auto found = std::find_if(std::begin(live), std::end(live), [type](const auto& entry) { return entry.first == type; });
    if (found != std::end(live)) {
        // A token asks for no particular source; a browser cue then opens the default page.
        const QString source = !token                           ? path
                               : type == KavioMediaTypeBrowser ? defaultBrowserSourceURL()
                                                               : QString();
        cue = found->second(source, self);
    } else {
        // Media moved with the project lie in its "files" folder.
        QString resolved = path;
        const auto app = delegate();
        const QString project = app ? app->projectURL() : QString();
        if (!QFileInfo::exists(path) && !project.isEmpty()) {
            const QString moved = QFileInfo(project).path() + QStringLiteral("/files/") + QFileInfo(path).fileName();
            KLOG_INFO("try with relative path: {}", moved.toStdString());
            if (QFileInfo::exists(moved))
                resolved = moved;
        }
        cue = KavioVideoItem::initWithMoviePath(resolved, self, restoreData);
    }
    if (!cue)
        return nullptr;

    cue->setUid(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    insertItem(cue, newcueindex_.load());
    const bool loading = isLoadingProject();
    if (!loading)
        if (const auto view = outlets_.itemsView.lock())
            view->updateHeight();
    cue->setupSMPTEStartAndEndTimes();
    if (defaultCueViewState() == 0 || loading)
        cue->setIsCollapsed(true);

    if (!restoreData.isEmpty()) {
        if (restoreData.contains(kPDFPageKey)) {
            KLOG_VERBOSE("index: {} page: {}", cue->index(), restoreData.value(kPDFPageKey).toULongLong());
            cue->setPdfPage(restoreData.value(kPDFPageKey).toULongLong());
        } else {
            // The record's own place: the cues from there on move down to make room.
            if (restoreData.contains(QStringLiteral("index"))) {
                const std::uint64_t index = restoreData.value(QStringLiteral("index")).toULongLong();
                onItemsQueue([&] {
                    for (const auto& other : *items_.load())
                        if (other != cue && other->index() >= index)
                            other->setIndex(other->index() + 1);
                });
            }
            if (cue->isMissing())
                cue->setDataForRestoreIfMissing(restoreData);
            cue->loadWithData(restoreData);
            if (mode == KavioCreateModeAdd)
                deselectAllItems();
            cue->setIsSelected(true);
        }
    }
    handleItemsUpdatedWithScrollOption(0);
    if (!loading)
        scrollToItem(cue);
    if (!currentItem()) {
        setCurrentItem(cue);
        cue->markAsCurrent(true);
    }
    if (loading && cue->mediaType() != KavioMediaTypeMovie)
        cue->setIsReady(true);

    if (const auto app = delegate()) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        UndoManager& undo = app->undoManager();
        undo.registerUndo(this, [weakSelf, uid = cue->uid()] {
            if (const auto controller = weakSelf.lock())
                controller->undoRemoveItemWithUID(uid);
        });
        undo.setActionName(mode == KavioCreateModeDuplicate ? QStringLiteral("Duplicate Cue") : QStringLiteral("Add Cue"));
    }
    return cue;
}

std::shared_ptr<KavioVideoItem> KavioVideoItemManager::restoreItemWithData(const QVariantMap& record)
{
    return createItemWithPath(record.value(QStringLiteral("mediaPath")).toString(), record);
}

bool KavioVideoItemManager::preparePathes(const QStringList& paths,
                                          const std::function<void(const QStringList&)>& completion)
{
    QStringList kept;
    for (const QString& path : paths) {
        if (supportedImageFormats().contains(QFileInfo(path).suffix().toLower())) {
            kept << path;
            continue;
        }
        MediaError error;
        const auto asset = MediaAsset::open(path.toStdString(), &error);
        bool undecodable = !asset || (!asset->hasVideo() && !asset->hasAudio());
        const bool hap = asset && asset->isHap();
        if (asset)
            for (const MediaTrack& track : asset->tracks())
                if (track.kind == MediaTrackKind::Video && !track.decodable) {
                    undecodable = true;
                    break;
                }
        KLOG_VERBOSE("isplayable: {} isHap :{}", !undecodable, hap);
        if (undecodable && !hap) {
            KLOG_WARN("AVFoundation cannot handle (error: {}) {}",
                      asset ? std::string("no decoder") : error.message, path.toStdString());
            kept << QString();
        } else {
            kept << path;
        }
    }
    if (completion)
        completion(kept);
    return std::any_of(kept.begin(), kept.end(), [](const QString& path) { return !path.isEmpty(); });
}

bool KavioVideoItemManager::createItemsWithPathes(const QStringList& paths)
{
    QVariantMap archive;
    preparePathes(paths, [&archive](const QStringList& kept) {
        for (const QString& path : kept)
            if (!path.isEmpty())
                archive.insert(QString::number(archive.size() + 1), QVariantMap{{QStringLiteral("mediaPath"), path}});
    });
    if (archive.isEmpty() || isLoadingCues())
        return false;
    if (archive.size() > 1)
        setIsDroppingInMultipleFiles(true);
    // The loader closes the group once every imported cue is ready.
    if (beginEditGroup())
        KLOG_INFO("open undo group...");
    return loadWithData(archive, false, [] { KLOG_INFO("finished importing files..."); });
}

// --- Replacing media ----------------------------------------------------------------------------

QStringList KavioVideoItemManager::runOpenPanel(bool multiple) const
{
    QStringList patterns;
    for (const QStringList* formats : {&supportedVideoFormats(), &supportedImageFormats(), &supportedAudioFormats()})
        for (const QString& extension : *formats)
            patterns << QStringLiteral("*.") + extension;
    const QString filter = QStringLiteral("Media (%1)").arg(patterns.join(QLatin1Char(' ')));
    if (openPanel_)
        return openPanel_(filter, multiple);
    if (multiple)
        return QFileDialog::getOpenFileNames(outlets_.window, QString(), QString(), filter);
    const QString path = QFileDialog::getOpenFileName(outlets_.window, QString(), QString(), filter);
    return path.isEmpty() ? QStringList() : QStringList{path};
}

void KavioVideoItemManager::createVideoCue()
{
    const QStringList paths = runOpenPanel(true);
    if (!paths.isEmpty())
        createItemsWithPathes(paths);
}

void KavioVideoItemManager::replaceItem(const std::shared_ptr<KavioVideoItem>& item)
{
    const QStringList paths = runOpenPanel(false);
    if (!paths.isEmpty())
        replaceItemWithChosenPath(item, paths.first());
}

void KavioVideoItemManager::replaceItemWithChosenPath(const std::shared_ptr<KavioVideoItem>& item, const QString& path)
{
    if (!preparePathes({path}, {})) {
        KavioAlert::runModal({QStringLiteral("Unsupported codec"),
                              QStringLiteral("Kavio is unable to read the file you selected, sorry."),
                              {QStringLiteral("OK")},
                              QString()});
        return;
    }
    replaceItemWithMovieAtPath(item, path);
}

void KavioVideoItemManager::replaceItemWithMovieAtPath(const std::shared_ptr<KavioVideoItem>& item, const QString& path,
                                                       bool keepTiming)
{
    if (!item)
        return;
    // The in point takes effect only as the new cue is made (the record's load later leaves it).
    QVariantMap timing;
    if (keepTiming) {
        const QVariantMap old = item->saveData();
        for (const QString& key : {QStringLiteral("_intime"), QStringLiteral("_outtime")})
            if (old.contains(key))
                timing.insert(key, old.value(key));
    }
    const auto cue = KavioVideoItem::initWithMoviePath(path, shared_from_this(), timing);
    if (!cue)
        return;
    if (isPlaying() && item == currentItem()) {
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        stopClockWithCompletedHandler([weakSelf, item, cue, keepTiming] {
            DispatchQueue::main().async([weakSelf, item, cue, keepTiming] {
                if (const auto self = weakSelf.lock())
                    self->finishReplacingItem(item, cue, keepTiming);
            });
        });
        return;
    }
    finishReplacingItem(item, cue, keepTiming);
}

void KavioVideoItemManager::finishReplacingItem(const std::shared_ptr<KavioVideoItem>& item,
                                                const std::shared_ptr<KavioVideoItem>& cue, bool keepTiming)
{
    const bool wasCurrent = item == currentItem();
    if (wasCurrent && cue->mediaType() != KavioMediaTypeStill && !replaceObserver_) {
        // Its own count: a project load may be waiting on readiness messages too.
        replacewaiting_ = 2;
        replaceObserver_ = observeReadiness(&KavioVideoItemManager::handleItemsStatusChangeOnReplace);
        // The new cue may have reported already while it was made.
        if (cue->isReady())
            --replacewaiting_;
    }
    QVariantMap record = item->isMissing() && !item->dataForRestoreIfMissing().isEmpty() ? item->dataForRestoreIfMissing()
                                                                                        : item->saveData();
    cue->setUid(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    cue->setIndex(item->index());
    cue->setupSMPTEStartAndEndTimes();
    std::uint64_t position = 0;
    const auto list = items();
    for (std::size_t i = 0; i < list->size(); ++i)
        if ((*list)[i] == item)
            position = i + 1;
    replaceItemAtPosition(position, cue);

    const QVariantMap fresh = cue->saveData();
    if (cue->mediaType() != KavioMediaTypeStill)
        record.insert(QStringLiteral("duration"), fresh.value(QStringLiteral("duration")));
    record.insert(QStringLiteral("mediaType"), fresh.value(QStringLiteral("mediaType")));
    record.insert(QStringLiteral("mediaPath"), cue->mediaPath());
    record.remove(QStringLiteral("uid"));
    // Another file has other timing; a conversion of the same media keeps the points.
    if (!keepTiming) {
        record.remove(QStringLiteral("_intime"));
        record.remove(QStringLiteral("_outtime"));
    }
    if (const auto view = outlets_.itemsView.lock())
        view->updateHeight();
    cue->setIsCollapsed(false);
    cue->loadWithData(record);
    if (wasCurrent) {
        setCurrentItem(nullptr);
        handleItemsUpdatedWithScrollOption(0);
        setCurrentItem(cue);
        cue->markAsCurrent(true);
    } else {
        handleItemsUpdatedWithScrollOption(0);
    }
}

void KavioVideoItemManager::handleItemsStatusChangeOnReplace()
{
    if (replacewaiting_ > 0)
        --replacewaiting_;
    if (replacewaiting_ > 0)
        return;
    NotificationCenter::defaultCenter().removeObserver(replaceObserver_);
    replaceObserver_ = 0;
    if (const auto current = currentItem())
        jumpToItem(current, true);
}
