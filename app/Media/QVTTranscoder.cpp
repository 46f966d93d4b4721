#include "Media/QVTTranscoder.h"

#include "Log.h"
#include "MediaAsset.h"
#include "MediaWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <cmath>

namespace {

constexpr int kAudioJob = 1;
constexpr int kVideoJob = 10;
// AAC encoders put this many samples of priming before the first real one.
constexpr double kAACPrimingSamples = 2112;
constexpr int kPrimingTimescale = 600;
constexpr auto kPollInterval = std::chrono::nanoseconds(1'000'000'000 / 15);

MediaWriterCodec writerCodec(QVTTranscoderCodec codec)
{
    switch (codec) {
    case QVTTranscoderCodec::Hap: return MediaWriterCodec::Hap;
    case QVTTranscoderCodec::HapAlpha: return MediaWriterCodec::HapAlpha;
    case QVTTranscoderCodec::ProRes4444: return MediaWriterCodec::ProRes4444;
    case QVTTranscoderCodec::ProRes422: break;
    }
    return MediaWriterCodec::ProRes422;
}

// The destination's folder exists, and no old file is in the way. False with *error set; the
// source itself is never deleted to make room for its own conversion.
bool prepareDestination(const QString& source, const QString& path, MediaError* error)
{
    const QFileInfo file(path);
    if (file.exists() && file.canonicalFilePath() == QFileInfo(source).canonicalFilePath()) {
        *error = {MediaErrorCode::WriteFailed, "\"" + path.toStdString() + "\" is the source itself"};
        return false;
    }
    if (file.exists() && !QFile::remove(path)) {
        *error = {MediaErrorCode::WriteFailed, "cannot delete \"" + path.toStdString() + "\""};
        return false;
    }
    if (!QDir().mkpath(file.absolutePath())) {
        *error = {MediaErrorCode::WriteFailed, "cannot make the folder \"" + file.absolutePath().toStdString() + "\""};
        return false;
    }
    return true;
}

bool exportAudio(const QString& source, const QString& destination, const std::atomic<bool>& cancelled,
                 std::atomic<float>& progress, MediaError* error)
{
    return prepareDestination(source, destination, error) &&
           exportAudioToM4A(source.toStdString(), destination.toStdString(), cancelled, progress, error);
}

}  // namespace

QVTTranscoder::QVTTranscoder() = default;

QVTTranscoder::~QVTTranscoder()
{
    if (pollTimer_)
        pollTimer_->cancel();
    writer_.reset();
}

std::shared_ptr<QVTTranscoder> QVTTranscoder::create()
{
    return std::shared_ptr<QVTTranscoder>(new QVTTranscoder());
}

const std::shared_ptr<QVTTranscoder>& QVTTranscoder::sharedTranscoder()
{
    static const std::shared_ptr<QVTTranscoder> shared = create();
    return shared;
}

std::shared_ptr<QVTTranscoderInterface> QVTTranscoder::jobForRequest(const QVTTranscoderRequest& request)
{
    auto job = create();
    job->setSourcePath(request.source);
    job->setDestinationPath(request.destination);
    job->setDestinationCodec(request.codec);
    job->setDelegate(request.delegate);
    job->setVideoItem(request.item);
    return job;
}

void QVTTranscoder::setDelegate(std::weak_ptr<QVTTranscoderDelegate> delegate)
{
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void QVTTranscoder::setVideoItem(std::weak_ptr<KavioVideoItem> item)
{
    std::lock_guard lock(mutex_);
    videoItem_ = std::move(item);
}

void QVTTranscoder::setSourcePath(const QString& path)
{
    std::lock_guard lock(mutex_);
    sourceURL_ = path;
}

void QVTTranscoder::setDestinationPath(const QString& path)
{
    std::lock_guard lock(mutex_);
    destinationURL_ = path;
}

void QVTTranscoder::setDestinationCodec(QVTTranscoderCodec codec)
{
    std::lock_guard lock(mutex_);
    destinationCodec_ = codec;
}

void QVTTranscoder::setCancelled(bool cancelled) { cancelled_ = cancelled; }

QString QVTTranscoder::sourcePath() const
{
    std::lock_guard lock(mutex_);
    return sourceURL_;
}

QString QVTTranscoder::destinationPath() const
{
    std::lock_guard lock(mutex_);
    return destinationURL_;
}

std::shared_ptr<QVTTranscoderDelegate> QVTTranscoder::currentDelegate() const
{
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

bool QVTTranscoder::isPolling() const { return pollTimer_ && pollTimer_->isRunning(); }

void QVTTranscoder::report()
{
    if (reported_.exchange(true))
        return;
    const auto delegate = currentDelegate();
    if (delegate)
        delegate->transcodingFinished(shared_from_this());
}

// --- Audio ------------------------------------------------------------------------------------------

void QVTTranscoder::transcodeAudio(const QString& source, const QString& destination)
{
    transcoderType_ = kAudioJob;
    // The poll runs beside the export, which keeps the job's queue busy while it runs.
    pollQueue_ = std::make_unique<DispatchQueue>("com.dalvek.transcoder.poll");
    pollTimer_ = std::make_unique<DispatchTimer>(
        *pollQueue_, kPollInterval, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self)
                return;
            if (const auto delegate = self->currentDelegate())
                delegate->updateConversionProgress();
        });
    pollTimer_->start();
    queue_.async([self = shared_from_this(), source, destination] {
        MediaError error;
        const bool done = exportAudio(source, destination, self->cancelled_, self->progress_, &error);
        // The poll ends with the export: nothing is left to report on.
        self->pollTimer_->cancel();
        if (done) {
            KLOG_VERBOSE("transcoding completed!");
        } else {
            KLOG_VERBOSE("transcoding error (fallback to original): {}", error.message);
            self->setDestinationPath(source);
        }
        self->report();
    });
}

QString QVTTranscoder::transcodeAudioSynchronously(const QString& source, const QString& destination)
{
    const std::atomic<bool> never{false};
    std::atomic<float> progress{0.f};
    MediaError error;
    if (exportAudio(source, destination, never, progress, &error)) {
        KLOG_VERBOSE("transcoding completed!");
        return destination;
    }
    KLOG_VERBOSE("transcoding error (fallback to original): {}", error.message);
    return source;
}

// --- Video ------------------------------------------------------------------------------------------

void QVTTranscoder::startTranscode()
{
    queue_.async([self = shared_from_this()] { self->isfirstsample_ = true; });
    QString source, destination;
    QVTTranscoderCodec codec;
    {
        std::lock_guard lock(mutex_);
        source = sourceURL_;
        destination = destinationURL_;
        codec = destinationCodec_;
    }
    transcodeFile(source, destination, codec);
}

void QVTTranscoder::transcodeFile(const QString& source, const QString& destination, QVTTranscoderCodec codec)
{
    transcoderType_ = kVideoJob;
    queue_.async([self = shared_from_this(), source, destination, codec] {
        self->output_ = destination;
        self->outputcodec_ = codec;
        self->runVideoJob(source);
    });
}

void QVTTranscoder::fail(const MediaError& error)
{
    KLOG_VERBOSE("error: {}", error.message);
    if (writer_)
        writer_->cancel();
    writer_.reset();
    cancelled_ = true;
    report();
}

void QVTTranscoder::runVideoJob(const QString& source)
{
    MediaError error;
    const auto asset = MediaAsset::open(source.toStdString(), &error);
    if (!asset) {
        fail(error);
        return;
    }
    const MediaTime length = asset->duration();
    duration_ = length.isNumeric() ? length.seconds() : 0;
    for (const MediaTrack& track : asset->tracks())
        if (track.kind == MediaTrackKind::Video)
            KLOG_VERBOSE("found video track!");
    if (!prepareDestination(source, output_, &error) || !setupAssetReaderAndAssetWriter(&error)) {
        fail(error);
        return;
    }
    // A start that fails has reported already.
    if (startAssetReaderAndWriter(&error))
        pump();
}

bool QVTTranscoder::setupAssetReaderAndAssetWriter(MediaError* error)
{
    writer_ = MediaWriter::open(sourcePath().toStdString(), output_.toStdString(), writerCodec(outputcodec_), error);
    if (!writer_)
        return false;
    audioIsAAC_ = writer_->audioIsAAC();
    return true;
}

bool QVTTranscoder::startAssetReaderAndWriter(MediaError* error)
{
    if (!writer_->start(error)) {
        fail(*error);
        return false;
    }
    const std::size_t inputs = writer_->inputCount();
    KLOG_VERBOSE("writers: {} readers: {}", inputs, inputs);
    for (std::size_t i = 0; i < inputs; ++i)
        KLOG_VERBOSE("pass ({})", i);
    return true;
}

void QVTTranscoder::pump()
{
    MediaError error;
    for (;;) {
        if (cancelled_) {
            endWriting(true);
            return;
        }
        MediaWriter::Sample sample;
        const MediaWriter::Step step = writer_->readSample(sample, &error);
        if (step == MediaWriter::Step::End)
            break;
        if (step == MediaWriter::Step::Failed) {
            fail(error);
            return;
        }
        if (sample.kind == MediaTrackKind::Video && sample.time.isNumeric()) {
            const auto delegate = currentDelegate();
            const float fraction = float(sample.time.seconds() / duration_);
            if (delegate && std::isfinite(fraction)) {
                progress_ = fraction;
                delegate->updateConversionProgress();
            }
        }
        if (sample.kind == MediaTrackKind::Audio) {
            if (isfirstsample_ && audioIsAAC_ && !sample.trimAtStart.isValid()) {
                int rate = sample.sampleRate;
                if (rate <= 0) {
                    KLOG_VERBOSE("error, cannot read sample rate, force use 48000");
                    rate = 48000;
                }
                sample.trimAtStart = MediaTime::makeWithSeconds(kAACPrimingSamples / rate, kPrimingTimescale);
                KLOG_VERBOSE("NO priming info was set, use: {{TrimDurationAtStart = {{value = {}; timescale = {}}}}}",
                             sample.trimAtStart.value, sample.trimAtStart.timescale);
            }
            isfirstsample_ = false;
        }
        if (!writer_->append(sample, &error)) {
            fail(error);
            return;
        }
    }
    endWriting(false);
}

void QVTTranscoder::endWriting(bool cancelled)
{
    if (cancelled) {
        writer_->cancel();
        writer_.reset();
        KLOG_VERBOSE("cancelled");
        report();
        return;
    }
    MediaError error;
    // The finished file must be whole before the cue is given it.
    if (!writer_->finish(&error)) {
        fail(error);
        return;
    }
    writer_.reset();
    KLOG_VERBOSE("done!");
    report();
}
