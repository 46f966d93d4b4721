#pragma once
// The manager's sender node mirrors cue feedback onto the role addresses. When a cue's
// index prefix (say "/kavio/4/") is the source of the current address, every message sent
// under that prefix also goes out under "/kavio/current/" with the same tail, so a control
// surface can follow "whatever cue is current" without knowing its index. Likewise for the
// next and previous addresses. Safe from any thread.

#include <QString>
#include <QStringList>

#include <mutex>

inline const QString kQVTOSCCurrentAddress = QStringLiteral("/kavio/current/");
inline const QString kQVTOSCNextAddress = QStringLiteral("/kavio/next/");
inline const QString kQVTOSCPreviousAddress = QStringLiteral("/kavio/previous/");

class QVTOSCSenderNode {
public:
    // Each takes a prefix ending in "/" (for example "/kavio/4/"); a null or empty string
    // clears the source, and that role address then mirrors nothing.
    void setSourceForCurrentAddress(const QString& prefix);
    void setSourceForNextAddress(const QString& prefix);
    void setSourceForPreviousAddress(const QString& prefix);

    QString sourceForCurrentAddress() const;
    QString sourceForNextAddress() const;
    QString sourceForPreviousAddress() const;

    // The extra addresses a message sent to `address` goes to: for each role (current, next,
    // previous, in that order) whose source prefixes `address`, the role address followed by
    // the rest of `address`. Empty when no source matches.
    QStringList mirroredAddresses(const QString& address) const;

private:
    mutable std::mutex mutex_;
    QString current_;
    QString next_;
    QString previous_;
};
