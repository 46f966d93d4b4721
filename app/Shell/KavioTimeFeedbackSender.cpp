#include "Shell/KavioTimeFeedbackSender.h"

KavioTimeFeedbackSender::KavioTimeFeedbackSender(std::function<void()> send)
    : send_(std::move(send)), thread_([this] { run(); })
{
}

KavioTimeFeedbackSender::~KavioTimeFeedbackSender()
{
    stopping_.store(true);
    pending_.store(true);
    pending_.notify_one();
    thread_.join();
}

void KavioTimeFeedbackSender::requestSend()
{
    if (!pending_.exchange(true))
        pending_.notify_one();
}

void KavioTimeFeedbackSender::run()
{
    for (;;) {
        pending_.wait(false);
        if (stopping_.load())
            return;
        pending_.store(false);
        send_();
    }
}
