#include "Controller/KavioVideoItemManager.h"

#include "Clock/QVTClock.h"
#include "Controller/KavioCuePasteboard.h"
#include "Cue/KavioVideoItem.h"
#include "Rendering/KavioOverlayer.h"
#include "Rendering/QVTMTKViewInterface.h"
#include "Shell/AppDelegateInterface.h"
#include "Support/KavioButtonInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "Audio/KavioWaveformManagerInterface.h"
#include "DispatchQueue.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "StillImage.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressBar>

#include <algorithm>

namespace {

constexpr std::uint64_t kLoadingBatchSize = 10;
// Readiness of a movie that fails posts nothing: the load also looks again this often.
constexpr double kLoadingRecheckSeconds = 0.1;
const QString kPDFPageKey = QStringLiteral("KavioItemPDFPageKey");

// A cue of the running batch is done once it can report nothing more: ready, missing, or not a
// movie (every other kind is complete when its creation returns).
bool isSettled(const KavioVideoItem& cue)
{
    return cue.isReady() || cue.isMissing() || cue.mediaType() != KavioMediaTypeMovie;
}

}  // namespace

// --- The archive ----------------------------------------------------------------------------------

QVariantMap KavioVideoItemManager::saveData() const
{
    KavioVideoItemListSnapshot snapshot;
    onItemsQueue([&] { snapshot = items_.load(); });
    QVariantMap data;
    for (const auto& cue : *snapshot) {
        // A cue whose media is gone writes back the record it was restored from, unchanged.
        const QVariantMap kept = cue->isMissing() ? cue->dataForRestoreIfMissing() : QVariantMap();
        data.insert(QString::number(data.size() + 1), kept.isEmpty() ? cue->saveData() : kept);
    }
    return data;
}

// --- Loading --------------------------------------------------------------------------------------

QDialog* KavioVideoItemManager::loadingWindow() const
{
    return loadingSheet_.window.data();
}

bool KavioVideoItemManager::loadWithData(const QVariant& archive, bool restoreCues, std::function<void()> completed)
{
    if (archive.typeId() != QMetaType::QVariantMap) {
        if (archive.isValid())
            KLOG_WARN("playlist archive is not a dictionary; nothing loaded");
        return false;
    }
    if (loadingRunning_) {
        KLOG_WARN("a playlist is loading already; the new load is refused");
        return false;
    }
    const QVariantMap data = archive.toMap();
    loadingRunning_ = true;
    loadingRestores_ = restoreCues;
    waitforitemstobeready_messagesperitem_ = restoreCues ? 2 : 1;

    // Keys in numeric order; a key that is no number is no position.
    QStringList keys;
    for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
        bool numeric = false;
        it.key().toULongLong(&numeric);
        if (numeric)
            keys << it.key();
        else
            KLOG_WARN("playlist entry under key \"{}\" skipped: not a position", it.key().toStdString());
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const QString& a, const QString& b) { return a.toULongLong() < b.toULongLong(); });

    const std::uint64_t expected = std::uint64_t(keys.size()) * waitforitemstobeready_messagesperitem_;
    loadingSheet_.open(outlets_.window, QStringLiteral("Loading cues…"), int(expected));

    setShouldRestartClockByLoop(false);
    waitforitemstobeready_ = expected;
    waitforitemstobeready_loadedalready_ = 0;
    waitforitemstobeready_currentbatch_ = 0;
    loadingNextKey_ = 0;
    loadingPending_.clear();
    loadingBatchStarts_.clear();
    KLOG_INFO("waiting for {} items to be ready...", keys.size());
    loadingObserver_ = observeReadiness(&KavioVideoItemManager::handleItemsStatusChangeOnCreatingCues);
    loadingcompletedblock_ = std::move(completed);
    sortedkeysforloading_ = keys;
    dataforloading_ = data;

    if (keys.isEmpty())
        completeLoading();
    else
        processLoadingCuesFromNumber(0, restoreCues);
    return true;
}

std::uint64_t KavioVideoItemManager::observeReadiness(void (KavioVideoItemManager::*handler)())
{
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    return NotificationCenter::defaultCenter().addObserver(
        this, kKavioItemBecameReadyNotification, nullptr,
        [weakSelf, handler](const Notification&) {
            if (const auto self = weakSelf.lock())
                (self.get()->*handler)();
        },
        &DispatchQueue::main());
}

void KavioVideoItemManager::processLoadingCuesFromNumber(std::uint64_t first, bool restoreCues)
{
    const std::uint64_t count = std::min<std::uint64_t>(kLoadingBatchSize, sortedkeysforloading_.size() - first);
    KLOG_INFO("start loading batch {} -> {} from {}", first, first + count, sortedkeysforloading_.size());
    loadingBatchStarts_.push_back(first);
    loadingNextKey_ = first + count;
    loadingCreating_ = true;
    std::uint64_t skipped = 0;
    for (std::uint64_t i = first; i < first + count; ++i) {
        const QString& key = sortedkeysforloading_.at(qsizetype(i));
        KLOG_VERBOSE("currentkey: {}", key.toStdString());
        const QVariant entry = dataforloading_.value(key);
        const QVariant mediaPath = entry.toMap().value(QStringLiteral("mediaPath"));
        if (entry.typeId() != QMetaType::QVariantMap || mediaPath.typeId() != QMetaType::QString ||
            mediaPath.toString().isEmpty()) {
            KLOG_WARN("playlist entry {} skipped: not a record with a media path", key.toStdString());
            ++skipped;
            continue;
        }
        const QString path = mediaPath.toString();
        std::vector<std::shared_ptr<KavioVideoItem>> made;
        if (restoreCues) {
            made.push_back(createItemWithPath(path, entry.toMap()));
        } else if (QFileInfo(path).suffix().toLower() == QLatin1String("pdf")) {
            const std::uint64_t pages = StillImage::pdfPageCount(path);
            if (pages == 0)
                KLOG_WARN("PDF not loaded, it does not open or has no pages: {}", path.toStdString());
            // Every page is a cue of its own and is waited for; the next entry follows the last page.
            if (pages > 1) {
                waitforitemstobeready_ += (pages - 1) * waitforitemstobeready_messagesperitem_;
                if (QProgressBar* bar = loadingSheet_.bar)
                    bar->setMaximum(bar->maximum() + int((pages - 1) * waitforitemstobeready_messagesperitem_));
            }
            for (std::uint64_t page = 1; page <= pages; ++page) {
                made.push_back(createItemWithPath(path, QVariantMap{{kPDFPageKey, qulonglong(page)}}));
                newcueindex_ = newcueindex_ + 1;
            }
        } else {
            made.push_back(createItemWithPath(path));
            newcueindex_ = newcueindex_ + 1;
        }
        made.erase(std::remove(made.begin(), made.end(), nullptr), made.end());
        if (made.empty()) {
            KLOG_WARN("playlist entry {} made no cue: {}", key.toStdString(), path.toStdString());
            ++skipped;
        }
        for (const auto& cue : made)
            loadingPending_.push_back(cue);
    }
    loadingCreating_ = false;
    advanceLoadingProgress(skipped);
    // Cues that are complete at once report before any message comes.
    const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
    DispatchQueue::main().async([weakSelf] {
        if (const auto self = weakSelf.lock())
            self->handleItemsStatusChangeOnCreatingCues();
    });
}

void KavioVideoItemManager::advanceLoadingProgress(std::uint64_t entries)
{
    const std::uint64_t messages = std::min(waitforitemstobeready_, entries * waitforitemstobeready_messagesperitem_);
    waitforitemstobeready_ -= messages;
    waitforitemstobeready_loadedalready_ += messages;
    loadingSheet_.advance(int(messages));
}

void KavioVideoItemManager::handleItemsStatusChangeOnCreatingCues()
{
    if (!loadingRunning_ || loadingCreating_)
        return;
    std::uint64_t settled = 0;
    std::erase_if(loadingPending_, [&settled](const std::weak_ptr<KavioVideoItem>& weak) {
        const auto cue = weak.lock();
        const bool done = !cue || isSettled(*cue);
        settled += done ? 1 : 0;
        return done;
    });
    advanceLoadingProgress(settled);
    if (settled)
        KLOG_VERBOSE("{} Cues left to complete...", waitforitemstobeready_ / waitforitemstobeready_messagesperitem_);
    if (!loadingPending_.empty()) {
        // A movie whose media fails reports nothing: look again shortly.
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        DispatchQueue::main().asyncAfter(kLoadingRecheckSeconds, [weakSelf] {
            if (const auto self = weakSelf.lock())
                self->handleItemsStatusChangeOnCreatingCues();
        });
        return;
    }
    if (loadingNextKey_ < std::uint64_t(sortedkeysforloading_.size())) {
        waitforitemstobeready_loadedalready_ = 0;
        ++waitforitemstobeready_currentbatch_;
        processLoadingCuesFromNumber(loadingNextKey_, loadingRestores_);
        return;
    }
    completeLoading();
}

void KavioVideoItemManager::completeLoading()
{
    sortedkeysforloading_.clear();
    dataforloading_.clear();
    waitforitemstobeready_ = 0;
    waitforitemstobeready_loadedalready_ = 0;
    waitforitemstobeready_currentbatch_ = 0;
    KLOG_INFO("all items are ready...");

    const auto list = items();
    if (const auto view = outlets_.itemsView.lock())
        view->updateHeight();
    if (std::any_of(list->begin(), list->end(), [](const auto& cue) { return cue->colorTag() != 0; }))
        NotificationCenter::defaultCenter().post(QStringLiteral("KavioColorTagsShouldToggle"), nullptr,
                                                 {{QStringLiteral("KavioColorTagsToggleDesiredState"), true}});
    loadingSheet_.close();

    if (isDroppingInMultipleFiles() && !isLoadingProject())
        for (const auto& cue : *list)
            cue->validateTransition();
    setIsDroppingInMultipleFiles(false);
    if (undoGroupingStarted()) {
        KLOG_INFO("close undo group...");
        if (const auto app = delegate())
            app->undoManager().endUndoGrouping();
        setUndoGroupingStarted(false);
    }
    validateTransport();
    if (list->size() == 1 && !isLoadingProject() && list->front()->nextItem() == list->front())
        list->front()->setupLoopHelper();
    NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
    setIsLoadingProject(false);
    NotificationCenter::defaultCenter().removeObserver(loadingObserver_);
    loadingObserver_ = 0;
    loadingRunning_ = false;
    if (loadingcompletedblock_)
        loadingcompletedblock_();
}

void KavioVideoItemManager::handleThingsAfterProjectDataLoaded()
{
    const auto list = items();
    for (const auto& cue : *list)
        cue->generateThumbnailAsync();
    setShouldStartClockAfterStartTimeHasBeenSet(false);
    if (const auto view = outlets_.itemsView.lock())
        view->updateHeight();
    refreshItemsViewWithScrollOption(10);
    handleItemLoopsAfterProjectLoadOrItemsUpdated();
    NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);

    const auto app = delegate();
    if (app && app->loopButton())
        shouldLoop(app->loopButton()->state() != 0);
    validateTransport();
    setClockAndItemStartTimeAfterJump();
    for (const auto& cue : *list)
        cue->validateTransition();
    for (const auto& cue : *list)
        cue->setupTransition();
    for (const auto& cue : *list)
        cue->handleBrowserSourceAfterLoading();
    updateGotoItemUIDs();
    sendCurrentCueOSCFeedback();
    NotificationCenter::defaultCenter().post(QStringLiteral("processOSCFeedback"));

    const auto current = currentItem();
    setCurrentItem(current);
    if (app)
        app->setHasUnsavedChanges(false);
    canjump_ = true;
    selectItem(current);
    if (const auto view = outlets_.mtkView.lock())
        view->viewDidResize();

    const std::int64_t mode = defaults_.integerForKey(QStringLiteral("playbackmode"));
    if (mode > 0) {
        KLOG_INFO("set timecode-slave mode on open...");
        const std::weak_ptr<KavioVideoItemManager> weakSelf = weak_from_this();
        DispatchQueue::main().async([weakSelf, mode] {
            if (const auto self = weakSelf.lock())
                self->switchSyncSourceOnOpen(mode);
        });
    }
    if (defaults_.boolForKey(QStringLiteral("autoStart")) && playbackMode() == 0) {
        KLOG_INFO("autoStart playback...");
        startPlayback();
    }
}

void KavioVideoItemManager::switchSyncSourceOnOpen(std::int64_t playbackMode)
{
    if (const auto app = delegate())
        app->toggleSourceMode(playbackMode);
}

// --- Clearing -------------------------------------------------------------------------------------

void KavioVideoItemManager::clearPlaylistWithCompletedHandler(std::function<void()> completed)
{
    setShouldStartClockAfterStartTimeHasBeenSet(false);
    const auto app = delegate();
    const auto removeAll = [this, completed = std::move(completed)] {
        if (currentItem())
            setCurrentItem(nullptr);
        removeItems(*items(), [this, completed] {
            clearPreview();
            if (const auto waveform = outlets_.waveformManager.lock())
                waveform->setCurrentItem(nullptr);
            handleItemsUpdatedWithScrollOption(10);
            newcueindex_ = 1;
            loadPlaylistDefaults();
            if (completed)
                completed();
        });
    };
    KavioButtonInterface* play = app ? app->playButton() : nullptr;
    if (play && play->state() != 0) {
        // Playback stops before a cue goes.
        play->setState(0);
        app->performTogglePlayWithCompletedHandler(removeAll);
        return;
    }
    removeAll();
}

void KavioVideoItemManager::clearPreview()
{
    if (const auto view = outlets_.mtkView.lock())
        view->setShouldClear(true);
    previewoverlayer_->setShouldClear(true);
    outputoverlayer_->setShouldClear(true);
}

// --- Pasting --------------------------------------------------------------------------------------

void KavioVideoItemManager::pasteItemsWithData(const QVariantList& records)
{
    QList<QVariantMap> sorted;
    for (const QVariant& record : records)
        if (record.typeId() == QMetaType::QVariantMap)
            sorted << record.toMap();
    const auto indexOf = [](const QVariantMap& record) { return record.value(QStringLiteral("index")).toLongLong(); };
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const QVariantMap& a, const QVariantMap& b) { return indexOf(a) > indexOf(b); });
    // Taken once: each pasted cue becomes selected itself, and all go to the same place.
    const long last = indexOfLastSelectedItem();
    for (QVariantMap record : sorted) {
        record.remove(QStringLiteral("uid"));
        if (last >= 0)
            record.insert(QStringLiteral("index"), qulonglong(last));
        else
            record.remove(QStringLiteral("index"));
        createItemWithPath(record.value(QStringLiteral("mediaPath")).toString(), record);
    }
}

bool KavioVideoItemManager::canPaste() const
{
    return KavioCuePasteboard::recordsFromMimeData(QGuiApplication::clipboard()->mimeData()).has_value();
}
