#pragma once
// A media conversion job as the cue list controller runs it: the controller asks a factory for
// one job per cue to convert, starts them all, and puts each converted file into its cue when the
// job reports its end. The transcoder itself implements this; tests give a recording fake.

#include <QString>

#include <functional>
#include <memory>

class KavioVideoItem;
class QVTTranscoderInterface;

// The codec a video job writes.
enum class QVTTranscoderCodec { ProRes4444, ProRes422, HapAlpha, Hap };

// What a job reports to the controller (its delegate), from any thread.
class QVTTranscoderDelegate {
public:
    virtual ~QVTTranscoderDelegate() = default;
    // The job's progress moved.
    virtual void updateConversionProgress() = 0;
    // The job ended: converted, failed or cancelled.
    virtual void transcodingFinished(const std::shared_ptr<QVTTranscoderInterface>& job) = 0;
};

class QVTTranscoderInterface {
public:
    virtual ~QVTTranscoderInterface() = default;
    // The kind of job: 1 audio, 10 video.
    virtual int transcoderType() const = 0;
    virtual QString sourcePath() const = 0;
    virtual QString destinationPath() const = 0;
    virtual QVTTranscoderCodec codec() const = 0;
    // 0..1. Any thread.
    virtual double progress() const = 0;
    // Cancelled jobs still report their end; their output is not used. Any thread.
    virtual bool isCancelled() const = 0;
    // Starts the video job and returns at once; it runs on the transcoder's own queues.
    virtual void startTranscode() = 0;
    // Starts an audio job instead: the first audio track of `source` as AAC in an M4A file at
    // `destination`; returns at once. Failed or cancelled, the job's destination becomes `source`.
    virtual void transcodeAudio(const QString& source, const QString& destination) = 0;
    virtual void cancelTranscode() = 0;
    // The cue the converted file goes into (nullptr once it is gone).
    virtual std::shared_ptr<KavioVideoItem> videoItem() const = 0;
};

// What the controller asks a job of.
struct QVTTranscoderRequest {
    QString source;
    QString destination;
    QVTTranscoderCodec codec = QVTTranscoderCodec::ProRes422;
    std::weak_ptr<KavioVideoItem> item;
    std::weak_ptr<QVTTranscoderDelegate> delegate;
};
using QVTTranscoderFactory = std::function<std::shared_ptr<QVTTranscoderInterface>(const QVTTranscoderRequest&)>;
