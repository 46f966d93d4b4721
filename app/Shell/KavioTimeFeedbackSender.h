#pragma once
// Carries the time feedback off the clock thread: the clock thread only raises a flag (no lock,
// no allocation); a thread of its own sends the feedback once for every raise it sees. Raises
// that come while a send runs are taken together: the next send carries the newest time.

#include <atomic>
#include <functional>
#include <thread>

class KavioTimeFeedbackSender {
public:
    // `send` runs on the sender's thread.
    explicit KavioTimeFeedbackSender(std::function<void()> send);
    // Waits for a send under way; raises after this are not sent.
    ~KavioTimeFeedbackSender();
    KavioTimeFeedbackSender(const KavioTimeFeedbackSender&) = delete;
    KavioTimeFeedbackSender& operator=(const KavioTimeFeedbackSender&) = delete;

    // Any thread; never blocks, never allocates.
    void requestSend();

private:
    void run();

    std::function<void()> send_;
    std::atomic<bool> pending_{false};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};
