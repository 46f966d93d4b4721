#include "Controller/KavioVideoItemManager.h"

#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "Media/QVTTranscoder.h"

#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace {

constexpr int kProResCode = 10;
constexpr int kHapCode = 20;
constexpr int kAudioJob = 1;
const QString kPathColumn = QStringLiteral("path");

// The job for `cue` converted to `code`, or none when it is in that codec already.
std::optional<QVTTranscoderRequest> requestFor(const std::shared_ptr<KavioVideoItem>& cue, int code)
{
    const QString source = cue->resolvedMediaPath();
    const QString folder = KavioVideoItemManager::transcodedVideosDir() + QLatin1Char('/');
    const QString name = QFileInfo(source).completeBaseName();
    QVTTranscoderRequest request;
    request.source = source;
    request.item = cue;
    if (code == kProResCode && !cue->isProRes()) {
        request.destination = folder + name + QStringLiteral("_ProRes.mov");
        request.codec = cue->hasAlpha() ? QVTTranscoderCodec::ProRes4444 : QVTTranscoderCodec::ProRes422;
        return request;
    }
    if (code == kHapCode && !cue->isHAP()) {
        request.destination = folder + name + QStringLiteral("_HAP.mov");
        request.codec = cue->hasAlpha() ? QVTTranscoderCodec::HapAlpha : QVTTranscoderCodec::Hap;
        return request;
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<QVTTranscoderInterface> KavioVideoItemManager::makeTranscodeJob(QVTTranscoderRequest request)
{
    request.delegate = std::static_pointer_cast<QVTTranscoderDelegate>(shared_from_this());
    return transcoderFactory_ ? transcoderFactory_(request) : QVTTranscoder::jobForRequest(request);
}

void KavioVideoItemManager::transcodeSelectedCuesToCodec(int codec)
{
    std::vector<std::shared_ptr<QVTTranscoderInterface>> jobs;
    for (const auto& cue : *items()) {
        if (!cue->isSelected() || cue->mediaType() != KavioMediaTypeMovie)
            continue;
        std::optional<QVTTranscoderRequest> request = requestFor(cue, codec);
        if (!request)
            continue;
        if (auto job = makeTranscodeJob(std::move(*request)))
            jobs.push_back(std::move(job));
    }
    runConversionJobs(jobs, [](QVTTranscoderInterface& job) { job.startTranscode(); });
}

void KavioVideoItemManager::transcodeAudioOfItem(const std::shared_ptr<KavioVideoItem>& item, const QString& path)
{
    if (!item)
        return;
    QVTTranscoderRequest request;
    request.source = item->resolvedMediaPath();
    request.destination = path;
    request.item = item;
    auto job = makeTranscodeJob(std::move(request));
    if (!job)
        return;
    runConversionJobs({job}, [](QVTTranscoderInterface& started) {
        started.transcodeAudio(started.sourcePath(), started.destinationPath());
    });
}

void KavioVideoItemManager::normalizeAudioOnSelectedItems()
{
    for (const auto& cue : selectedItems())
        cue->normalizeAudioVolume();
}

void KavioVideoItemManager::runConversionJobs(const std::vector<std::shared_ptr<QVTTranscoderInterface>>& jobs,
                                              const std::function<void(QVTTranscoderInterface&)>& start)
{
    if (jobs.empty())
        return;
    transcodeData_.insert(transcodeData_.end(), jobs.begin(), jobs.end());
    setIsTranscoding(true);

    if (!convertWindow_) {
        convertWindow_ = new QDialog(outlets_.window);
        convertWindow_->setWindowTitle(QStringLiteral("Converting"));
        convertWindow_->setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(convertWindow_);
        convertTableView_ = new QTableWidget(0, 1);
        convertTableView_->setHorizontalHeaderLabels({kPathColumn});
        convertTableView_->horizontalHeader()->setStretchLastSection(true);
        convertTableView_->verticalHeader()->hide();
        layout->addWidget(convertTableView_);
        auto* buttons = new QHBoxLayout;
        auto* folder = new QPushButton(QStringLiteral("Show Converted Files"));
        QObject::connect(folder, &QPushButton::clicked, convertWindow_,
                         [weakSelf = weak_from_this()] {
                             if (const auto self = weakSelf.lock())
                                 self->openTranscodeDirectory();
                         });
        buttons->addWidget(folder);
        buttons->addStretch();
        convertCancelButton_ = new QPushButton(QStringLiteral("Cancel"));
        QObject::connect(convertCancelButton_, &QPushButton::clicked, convertWindow_,
                         [weakSelf = weak_from_this()] {
                             if (const auto self = weakSelf.lock())
                                 self->cancelConversion();
                         });
        buttons->addWidget(convertCancelButton_);
        layout->addLayout(buttons);
        convertWindow_->resize(420, 240);
        convertWindow_->open();
    }
    convertCancelButton_->setEnabled(true);
    reloadConversionTable();
    for (const auto& job : jobs)
        start(*job);
}

QDialog* KavioVideoItemManager::convertWindow() const { return convertWindow_.data(); }

QString KavioVideoItemManager::conversionTableValue(const QString& column, int row) const
{
    if (column != kPathColumn || row < 0 || std::size_t(row) >= transcodeData_.size())
        return {};
    return QFileInfo(transcodeData_[std::size_t(row)]->sourcePath()).fileName();
}

void KavioVideoItemManager::reloadConversionTable()
{
    if (!convertTableView_)
        return;
    const int rows = numberOfRowsInConversionTable();
    convertTableView_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) {
        auto* bar = qobject_cast<QProgressBar*>(convertTableView_->cellWidget(row, 0));
        if (!bar) {
            bar = new QProgressBar;
            bar->setRange(0, 1000);
            convertTableView_->setCellWidget(row, 0, bar);
        }
        bar->setFormat(conversionTableValue(kPathColumn, row) + QStringLiteral("  %p%"));
        bar->setValue(int(std::clamp(transcodeData_[std::size_t(row)]->progress(), 0.0, 1.0) * 1000.0));
    }
}

void KavioVideoItemManager::updateConversionProgress()
{
    DispatchQueue::main().async([weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock())
            self->reloadConversionTable();
    });
}

void KavioVideoItemManager::transcodingFinished(const std::shared_ptr<QVTTranscoderInterface>& job)
{
    // The job list and the sheet are the main thread's: reports from the jobs' queues go there.
    DispatchQueue::main().async([weakSelf = weak_from_this(), job] {
        const auto self = weakSelf.lock();
        if (!self || !job)
            return;
        const auto found = std::find(self->transcodeData_.begin(), self->transcodeData_.end(), job);
        if (found == self->transcodeData_.end())
            return;
        self->transcodeData_.erase(found);
        const auto cue = job->videoItem();
        if (!job->isCancelled() && cue) {
            if (job->transcoderType() == kAudioJob)
                cue->replaceAudioWithFileURL(job->destinationPath());
            else
                self->replaceItemWithMovieAtPath(cue, job->destinationPath(), true);
        }
        self->reloadConversionTable();
        if (!self->transcodeData_.empty())
            return;
        if (self->convertWindow_) {
            self->convertWindow_->accept();
            self->convertWindow_->deleteLater();
        }
        self->convertWindow_ = nullptr;
        self->convertTableView_ = nullptr;
        self->convertCancelButton_ = nullptr;
        self->setIsTranscoding(false);
    });
}

void KavioVideoItemManager::cancelConversion()
{
    if (convertCancelButton_)
        convertCancelButton_->setEnabled(false);
    for (const auto& job : transcodeData_)
        job->cancelTranscode();
}

void KavioVideoItemManager::openTranscodeDirectory()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(transcodedVideosDir()));
}
