#include "Support/KavioAddons.h"

#include "DispatchQueue.h"
#include "NotificationCenter.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace KavioAddons {

namespace {
const char kMainQueueKey[] = "mainQueue";
}

bool isMainQueue()
{
    static std::once_flag once;
    std::call_once(once, [] {
        DispatchQueue::main().setSpecific(kMainQueueKey, const_cast<char*>(kMainQueueKey));
    });
    return DispatchQueue::getSpecific(kMainQueueKey) == kMainQueueKey;
}

bool isMainQueueOrIsMainThread()
{
    return isMainQueue() || DispatchQueue::isMainThread();
}

QString hexValue(const KavioColor& color)
{
    // The largest single-precision value below 256, so 1.0 maps to 255 and never to 256.
    constexpr double scale = 255.99998474121094;
    auto channel = [](double v) { return int(std::trunc(std::clamp(v, 0.0, 1.0) * scale)); };
    return QString::asprintf("%02x%02x%02x%02x", channel(color.red), channel(color.green), channel(color.blue),
                             channel(color.alpha));
}

QString hexValue(const QColor& color)
{
    if (!color.isValid()) {
        return QStringLiteral(" ");
    }
    return hexValue(KavioColor::fromQColor(color));
}

KavioColor colorWithHexColorString(const QString& text)
{
    quint32 value = 0;
    int i = 0;
    const int n = int(text.size());
    while (i < n && text.at(i).isSpace()) {
        ++i;
    }
    if (i + 1 < n && text.at(i) == u'0' && (text.at(i + 1) == u'x' || text.at(i + 1) == u'X')) {
        i += 2;
    }
    auto hexDigit = [](QChar c) {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9') {
            return int(u - u'0');
        }
        if (u >= u'a' && u <= u'f') {
            return int(u - u'a' + 10);
        }
        if (u >= u'A' && u <= u'F') {
            return int(u - u'A' + 10);
        }
        return -1;
    };
    bool overflow = false;
    for (int digit; i < n && (digit = hexDigit(text.at(i))) >= 0; ++i) {
        if (value > 0x0FFFFFFFu) {
            overflow = true;
        }
        value = (value << 4) | quint32(digit);
    }
    if (overflow) {
        value = 0xFFFFFFFFu;  // a number too long for 32 bits reads as the largest one
    }
    return {((value >> 16) & 0xFF) / 255.0, ((value >> 8) & 0xFF) / 255.0, (value & 0xFF) / 255.0, 1.0};
}

QImage tintImageWithColor(const QImage& image, const QColor& color)
{
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (copy.isNull()) {
        return image;
    }
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(copy.rect(), color);
    painter.end();
    return copy;
}

void notifyIfClicked(QWidget* view)
{
    NotificationCenter::defaultCenter().post("KavioViewSelected", view);
}

}  // namespace KavioAddons
