#pragma once
// The windows of other programs that window cues can capture, as entries [title, window id]: the
// title is "%@ / %@" of the owner (process name, else window class) and the window name; only
// normal windows with a name, sorted by title case-insensitively. While at least one listener
// counts itself, the list is polled once a second and "KavioWindowSourcesChangedNotification" (no
// object, no user info) is posted on the main thread when the set of entries changed.
//
// Threads: the list is built on "com.dalvek.windowsourcemanager" (callers wait); listeners count
// from the main thread.

#include <QList>
#include <QSet>
#include <QString>
#include <QVariantList>

#include <cstdint>
#include <memory>

class DispatchQueue;
class DispatchTimer;
class X11WindowCapture;

inline const QString kKavioWindowSourcesChangedNotification = QStringLiteral("KavioWindowSourcesChangedNotification");

class KavioWindowSourceManager {
public:
    static KavioWindowSourceManager& sharedManager();

    KavioWindowSourceManager();
    ~KavioWindowSourceManager();
    KavioWindowSourceManager(const KavioWindowSourceManager&) = delete;
    KavioWindowSourceManager& operator=(const KavioWindowSourceManager&) = delete;

    // Each entry a QVariantList {title (QString), window id (quint32)}.
    QList<QVariantList> listOfAvailableSources();
    // Starts polling with the first listener (logs "start polling of possible Window Sources...");
    // the last one leaving stops it ("remove polling of possible Window Sources...").
    void increaseNumberOfListeners();
    void decreaseNumberOfListeners();
    std::int64_t listeners() const { return listeners_; }

    // The window id of the first entry titled `title`; 0 for none.
    std::uint32_t windowIDForTitle(const QString& title);

private:
    void poll();

    std::unique_ptr<DispatchQueue> queue_;
    std::unique_ptr<X11WindowCapture> windows_;
    std::unique_ptr<DispatchTimer> pollTimer_;
    QSet<QPair<QString, std::uint32_t>> lastList_;
    std::int64_t listeners_ = 0;
};
