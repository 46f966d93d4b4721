#include "QVTAtemDeviceInfo.h"

#include "QVTAtemInput.h"

#include <QStringList>

QVTAtemDeviceInfo::QVTAtemDeviceInfo(QString deviceID, QString productName, QString customName, QString ip)
    : deviceID_(std::move(deviceID)), productName_(std::move(productName)), customName_(std::move(customName)), ip_(std::move(ip))
{
}

QString QVTAtemDeviceInfo::description() const
{
    const auto list = inputs();
    QString inputsText = QStringLiteral("(null)");
    if (list) {
        QStringList parts;
        for (const auto& input : *list)
            parts << input->description();
        inputsText = QStringLiteral("(") + parts.join(QStringLiteral(", ")) + QStringLiteral(")");
    }
    return QStringLiteral("<QVTAtemDeviceInfo id='%1' productName='%2' customName='%3' ip=%4 inputs=%5>")
        .arg(deviceID(), productName(), customName(), ip(), inputsText);
}
