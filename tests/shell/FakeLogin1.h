#pragma once

#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

// A login manager of our own: Inhibit hands out one end of a pipe and keeps the other, so the
// test sees the inhibitor released when the program closes its end.
class FakeLogin1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogin1() override
    {
        if (readEnd >= 0)
            ::close(readEnd);
    }
    std::atomic<int> inhibits{0};
    int readEnd = -1;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        if (what != "idle" || who != "Kavio" || why != "rendering" || mode != "block")
            return {};
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return {};
        readEnd = ends[0];
        ++inhibits;
        QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        return handed;
    }
};

