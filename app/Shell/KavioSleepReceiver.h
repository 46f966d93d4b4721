#pragma once
// Receives the login manager's PrepareForSleep signal for KavioSleepWatch (a bus signal needs a
// slot). Main thread.

#include <QObject>

#include <functional>

class KavioSleepReceiver : public QObject {
    Q_OBJECT
public:
    std::function<void()> willSleep, didWake;
public slots:
    void prepareForSleep(bool sleeping)
    {
        if (sleeping && willSleep)
            willSleep();
        else if (!sleeping && didWake)
            didWake();
    }
};
