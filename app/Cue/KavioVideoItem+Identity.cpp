#include "Cue/KavioVideoItem.h"

#include "Log.h"

#include <QFileInfo>

void KavioVideoItem::setIndex(std::uint64_t index)
{
    if (index == index_.load())
        return;
    index_ = index;
    if (cueID_.isEmpty())
        buildOSCAddressSpaceForID(QString::number(index));
}

void KavioVideoItem::setCueID(const QString& cueID)
{
    cueID_ = cueID.toUpper();
    oscCueID_.store(cueID_);
    buildOSCAddressSpaceForID(cueIDForOSC());
}

QString KavioVideoItem::cueIDForOSC() const
{
    return cueID_.isEmpty() ? QString::number(index_.load()) : cueID_;
}

void KavioVideoItem::setCueName(const QString& cueName)
{
    cueName_ = cueName;
    if (!cueNameMsg_)
        return;
    const auto values = cueNameMsg_->values();
    const bool alreadyReported = !values.empty() && values.front()->value().toString() == cueName &&
                                 cueNameMsg_->address() == feedbackAddress("cueName");
    if (!alreadyReported)
        sendCueNameOSCFeedback();
}

void KavioVideoItem::sendCueNameOSCFeedback()
{
    if (!cueNameMsg_)
        return;
    if (const auto controller = manager(); controller && controller->isLoadingProject())
        return;
    sendFeedback(*cueNameMsg_, "cueName", cueName_);
}

bool KavioVideoItem::isFileBasedMediaType(int mediaType)
{
    return mediaType == KavioMediaTypeMovie || mediaType == KavioMediaTypeStill || mediaType == KavioMediaTypeAudio;
}

bool KavioVideoItem::isFileBased() const
{
    return isFileBasedMediaType(mediaType());
}

QString KavioVideoItem::defaultTitle() const
{
    const QString resolved = resolvedPathForPath(mediaPath());
    return isFileBased() ? QFileInfo(resolved).fileName() : resolved;
}

QString KavioVideoItem::title() const
{
    const QString custom = displayTitle();
    return custom.isEmpty() ? defaultTitle() : custom;
}

QString KavioVideoItem::resolvedPathForPath(const QString& path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isSymLink())
        return path;
    KLOG_DEBUG("path is an alias...");
    const QString target = info.canonicalFilePath();
    if (target.isEmpty()) {
        KLOG_ERROR("error '{}' on resolving URL: {}", "the link's target does not exist", path.toStdString());
        return {};
    }
    // A loop of links canonicalises to a path that leads nowhere.
    if (!QFileInfo::exists(target)) {
        KLOG_ERROR("error '{}' on resolving URL: {}", "the link leads to no file", path.toStdString());
        return {};
    }
    return target;
}

