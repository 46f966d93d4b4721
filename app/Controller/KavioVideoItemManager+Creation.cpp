#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "Shell/AppDelegateInterface.h"
#include "Views/KavioItemsViewInterface.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"

#include <QFileInfo>
#include <QUuid>

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
    // A token stands for no particular source.
    const bool token = path.startsWith(QLatin1String("KAVIO_"));
    std::shared_ptr<KavioVideoItem> cue;
    switch (type) {
    case KavioMediaTypeCamera:
        cue = KavioVideoItem::initWithCamera(token ? QString() : path, self);
        break;
    case KavioMediaTypeSyphon:
        cue = KavioVideoItem::initWithSyphon(token ? QString() : path, self);
        break;
    case KavioMediaTypeNDI:
        cue = KavioVideoItem::initWithNDI(token ? QString() : path, self);
        break;
    case KavioMediaTypeBrowser:
        cue = KavioVideoItem::initWithBrowser(token ? defaultBrowserSourceURL() : path, self);
        break;
    case KavioMediaTypeWindow:
        cue = KavioVideoItem::initWithWindow(token ? QString() : path, self);
        break;
    default: {
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
        break;
    }
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
                NotificationCenter::defaultCenter().post(kKavioDeselectAllItemsNotification);
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
