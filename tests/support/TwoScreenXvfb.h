#pragma once
// An X server with two X screens for the window tests: screen 0 at 1920 x 1080 and screen 1 at
// 1280 x 720, each its own desktop (Qt sees two screens, both named "screen", at (0, 0)).
//
// start() runs `Xvfb -displayfd` under a runtime folder of its own and answers the display
// name (":N"); the server is stopped by its process id when the object goes (or with stop()).
// When Xvfb is missing or does not come up, start() answers an empty name and reason() says why,
// so suites can skip with it.

#include <QString>

#include <sys/types.h>

class TwoScreenXvfb {
public:
    TwoScreenXvfb() = default;
    ~TwoScreenXvfb();
    TwoScreenXvfb(const TwoScreenXvfb&) = delete;
    TwoScreenXvfb& operator=(const TwoScreenXvfb&) = delete;

    QString start();
    void stop();
    const QString& reason() const { return reason_; }

private:
    pid_t pid_ = -1;
    QString runtimeDir_;
    QString reason_;
};
