#pragma once
// One media conversion job: either the audio of a file exported as AAC in an M4A file (type 1),
// or a movie rewritten as a QuickTime movie whose video is re-encoded as Hap, Hap Alpha, ProRes
// 422 or ProRes 4444 while its other tracks pass through (type 10).
//
// A job reports to its delegate from its own threads: updateConversionProgress as it goes, and
// transcodingFinished exactly once when it ends, converted, failed or cancelled. A failed or
// cancelled video job leaves no file; a failed or cancelled audio job names its source as its
// destination, so the cue keeps playing what it had.

#include "Controller/QVTTranscoderInterface.h"
#include "DispatchQueue.h"

#include <atomic>
#include <memory>
#include <mutex>

class MediaWriter;
struct MediaError;

class QVTTranscoder : public QVTTranscoderInterface, public std::enable_shared_from_this<QVTTranscoder> {
public:
    // A new job: type 0, progress 0, not cancelled, no delegate.
    static std::shared_ptr<QVTTranscoder> create();
    // A job object made once for the process.
    static const std::shared_ptr<QVTTranscoder>& sharedTranscoder();
    // The cue list controller's factory: a job set up from the request, not started.
    static std::shared_ptr<QVTTranscoderInterface> jobForRequest(const QVTTranscoderRequest& request);
    ~QVTTranscoder() override;

    // Set before the job starts.
    void setDelegate(std::weak_ptr<QVTTranscoderDelegate> delegate);
    void setVideoItem(std::weak_ptr<KavioVideoItem> item);
    void setSourcePath(const QString& path);
    void setDestinationPath(const QString& path);
    void setDestinationCodec(QVTTranscoderCodec codec);
    void setCancelled(bool cancelled);

    int transcoderType() const override { return transcoderType_.load(); }
    QString sourcePath() const override;
    // After an audio job: the file the cue is to use.
    QString destinationPath() const override;
    QVTTranscoderCodec codec() const override { return destinationCodec_; }
    double progress() const override { return progress_.load(); }
    bool isCancelled() const override { return cancelled_.load(); }
    std::shared_ptr<KavioVideoItem> videoItem() const override { return videoItem_.lock(); }

    // The video job on the job's source, destination and codec.
    void startTranscode() override;
    // Stops the running work at its next sample or poll; the job still reports its end.
    void cancelTranscode() override { cancelled_ = true; }
    void transcodeAudio(const QString& source, const QString& destination) override;
    // The same export on the calling thread, without progress or reports: the destination when
    // it succeeded, else the source.
    static QString transcodeAudioSynchronously(const QString& source, const QString& destination);
    // The video job on explicit arguments (startTranscode's work).
    void transcodeFile(const QString& source, const QString& destination, QVTTranscoderCodec codec);

    // The audio job's progress poll is running (it stops when the job ends).
    bool isPolling() const;

private:
    QVTTranscoder();
    // On the job's queue.
    void runVideoJob(const QString& source);
    bool setupAssetReaderAndAssetWriter(MediaError* error);
    bool startAssetReaderAndWriter(MediaError* error);
    void pump();
    void endWriting(bool cancelled);
    void fail(const MediaError& error);
    void report();
    std::shared_ptr<QVTTranscoderDelegate> currentDelegate() const;

    DispatchQueue queue_{"com.dalvek.transcoder"};
    std::unique_ptr<DispatchQueue> pollQueue_;  // the audio job's progress poll
    std::unique_ptr<DispatchTimer> pollTimer_;
    std::unique_ptr<MediaWriter> writer_;
    QString output_;
    QVTTranscoderCodec outputcodec_ = QVTTranscoderCodec::ProRes422;
    double duration_ = 0;
    bool isfirstsample_ = true;
    bool audioIsAAC_ = false;

    mutable std::mutex mutex_;  // the paths, set by the controller and read from any thread
    QString sourceURL_;
    QString destinationURL_;
    QVTTranscoderCodec destinationCodec_ = QVTTranscoderCodec::ProRes422;
    std::weak_ptr<QVTTranscoderDelegate> delegate_;
    std::weak_ptr<KavioVideoItem> videoItem_;
    std::atomic<bool> cancelled_{false};
    std::atomic<float> progress_{0.f};
    std::atomic<int> transcoderType_{0};
    std::atomic<bool> reported_{false};
};
