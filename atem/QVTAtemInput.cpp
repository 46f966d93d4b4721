#include "QVTAtemInput.h"

#include "VistrelCallbacks.h"

std::shared_ptr<QVTAtemInput> QVTAtemInput::initWithDevice(const std::shared_ptr<QVTAtemDeviceInfo>& device,
                                                           const std::weak_ptr<VistrelDelegate>& delegate)
{
    auto input = std::make_shared<QVTAtemInput>();
    input->deviceInfo_ = device;
    input->delegate_ = delegate;
    input->callback_ = new VistrelBMDSwitcherInputCallback(input);
    return input;
}

QVTAtemInput::~QVTAtemInput()
{
    if (callback_)
        callback_->Release();
}

QString QVTAtemInput::description() const
{
    const QByteArray shortText = shortName.toUtf8();
    const QByteArray longText = longName.toUtf8();
    return QString::asprintf("<QVTAtemInput id=%5lld type=%s shortName='%-4s' longName='%-20s' programTallied=%d "
                             "previewTallied=%d>",
                             static_cast<long long>(id), qPrintable(portType.isNull() ? QStringLiteral("(null)") : portType),
                             shortName.isNull() ? "(null)" : shortText.constData(),
                             longName.isNull() ? "(null)" : longText.constData(), int(isProgramTallied.load()),
                             int(isPreviewTallied.load()));
}
