#include "Views/KavioControlStyle.h"

#include "DispatchQueue.h"
#include "Support/KavioFonts.h"
#include "Views/KavioIcons.h"

#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <cmath>
#include <mutex>

namespace KavioControlStyle {

QColor colorTagColor(std::int32_t tag, bool highlighted)
{
    switch (tag) {
    case 0:
        return {};
    case 20:
        return highlighted ? QColor::fromRgbF(1.0f, 0.911f, 0.529f) : QColor::fromRgbF(0.972f, 0.811f, 0.329f);
    case 30:
        return highlighted ? QColor::fromRgbF(0.572f, 1.0f, 0.596f) : QColor::fromRgbF(0.372f, 0.815f, 0.396f);
    case 40:
        return highlighted ? QColor::fromRgbF(0.701f, 0.47f, 1.0f) : QColor::fromRgbF(0.501f, 0.27f, 0.976f);
    case 50:
        return highlighted ? QColor::fromRgbF(1.0f, 0.3f, 1.0f) : QColor::fromRgbF(0.947f, 0.1f, 0.806f);
    case 10:
        return highlighted ? QColor::fromRgbF(1.0f, 0.576f, 0.537f) : QColor::fromRgbF(0.976f, 0.376f, 0.337f);
    default:
        return QColor::fromRgbF(0.976f, 0.376f, 0.337f);
    }
}

QImage templateImage(const QString& name)
{
    if (name.isEmpty())
        return {};
    // Loaded or drawn once per name: every row of a long cue list asks for the same few icons.
    static std::mutex mutex;
    static QHash<QString, QImage> images;
    {
        std::lock_guard lock(mutex);
        const auto known = images.constFind(name);
        if (known != images.constEnd())
            return *known;
    }
    const QImage resource(QStringLiteral(":/") + name + QStringLiteral(".png"));
    const QImage image = resource.isNull() ? KavioIcons::image(name) : resource;
    std::lock_guard lock(mutex);
    images.insert(name, image);
    return image;
}

QFont lightFont(double pixelSize) { return KavioFonts::font(QStringLiteral("Helvetica-Light"), pixelSize); }

QRectF integralRect(const QRectF& rect)
{
    const double left = std::floor(rect.left());
    const double top = std::floor(rect.top());
    return QRectF(left, top, std::ceil(rect.right()) - left, std::ceil(rect.bottom()) - top);
}

QSizeF textSize(const QString& text, const QFont& font)
{
    const QFontMetricsF metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

QRectF drawText(QPainter& painter, const QString& text, const QFont& font, const QColor& color, QPointF origin)
{
    const QRectF rect(origin, textSize(text, font));
    painter.save();
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(integralRect(rect), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();
    return rect;
}

void redrawFromAnyThread(QWidget* widget, const QRect& rect)
{
    if (DispatchQueue::isMainThread()) {
        widget->update(rect);
        return;
    }
    DispatchQueue::main().async([guard = QPointer<QWidget>(widget), rect] {
        if (guard)
            guard->update(rect);
    });
}

}  // namespace KavioControlStyle
