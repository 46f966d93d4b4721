#include "QVTOSCSenderNode.h"

void QVTOSCSenderNode::setSourceForCurrentAddress(const QString& prefix)
{
    std::lock_guard lock(mutex_);
    current_ = prefix;
}

void QVTOSCSenderNode::setSourceForNextAddress(const QString& prefix)
{
    std::lock_guard lock(mutex_);
    next_ = prefix;
}

void QVTOSCSenderNode::setSourceForPreviousAddress(const QString& prefix)
{
    std::lock_guard lock(mutex_);
    previous_ = prefix;
}

QString QVTOSCSenderNode::sourceForCurrentAddress() const
{
    std::lock_guard lock(mutex_);
    return current_;
}

QString QVTOSCSenderNode::sourceForNextAddress() const
{
    std::lock_guard lock(mutex_);
    return next_;
}

QString QVTOSCSenderNode::sourceForPreviousAddress() const
{
    std::lock_guard lock(mutex_);
    return previous_;
}

QStringList QVTOSCSenderNode::mirroredAddresses(const QString& address) const
{
    std::lock_guard lock(mutex_);
    QStringList out;
    const std::pair<const QString&, const QString&> roles[] = {
        {current_, kQVTOSCCurrentAddress},
        {next_, kQVTOSCNextAddress},
        {previous_, kQVTOSCPreviousAddress},
    };
    for (const auto& [source, role] : roles) {
        if (!source.isEmpty() && address.startsWith(source))
            out << role + address.mid(source.size());
    }
    return out;
}
