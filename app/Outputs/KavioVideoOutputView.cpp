#include "Outputs/KavioVideoOutputView.h"

#include "Outputs/KavioVideoOutputObject.h"
#include "Support/KavioAddons.h"
#include "Support/KavioFonts.h"
#include "Views/KavioControlStyle.h"
#include "Views/KavioFlippedGeometry.h"

#include "NotificationCenter.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>

namespace {

// Draws `text` centred on `centre` (y upwards) moved up by `dy`, as the tile lays its texts out;
// answers the text's box before it was made integral.
QRectF drawCentredText(QPainter& painter, const QString& text, double pixelSize, QPointF centre, double dy,
                       double viewHeight)
{
    const QFont font = KavioFonts::font(QStringLiteral("Helvetica-Light"), pixelSize);
    const QFontMetricsF metrics(font);
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF box(centre.x() - size.width() / 2 + 0.5, centre.y() - size.height() / 2 + dy, size.width(),
                     size.height());
    painter.setFont(font);
    painter.drawText(KavioControlStyle::integralRect(KavioFlippedGeometry::rect(box, viewHeight)), Qt::AlignLeft | Qt::AlignTop, text);
    return box;
}

}  // namespace

KavioVideoOutputView::KavioVideoOutputView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
}

void KavioVideoOutputView::setObject(const std::shared_ptr<KavioVideoOutputObject>& object)
{
    object_ = object;
    update();
}

void KavioVideoOutputView::setIsSelected(bool selected)
{
    isSelected_ = selected;
    update();
}

void KavioVideoOutputView::setShouldHover(bool hover)
{
    shouldHover_ = hover;
    update();
}

void KavioVideoOutputView::setHasError(bool error)
{
    hasError_ = error;
    update();
}

QColor KavioVideoOutputView::drawColor() const
{
    if (isSelected_)
        return QColor::fromRgbF(0.0f, 0.656f, 0.929f);
    const float white = shouldHover_ ? 0.83f : 0.62f;
    return QColor::fromRgbF(white, white, white);
}

void KavioVideoOutputView::removeResources()
{
    object_.reset();
}

void KavioVideoOutputView::paintEvent(QPaintEvent*)
{
    const auto output = object_.lock();
    if (!output)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const double h = height();
    const QColor colour = drawColor();
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);  // symmetric, so y-up alike
    const QPointF c = r.center();
    painter.setPen(colour);

    const QRectF number = drawCentredText(painter, QString::number(qulonglong(output->index())), 24, c, 18, h);
    if (hasError_) {
        const QImage mark = KavioAddons::tintImageWithColor(KavioControlStyle::templateImage(QStringLiteral("kavio_error")),
                                                            QColor::fromRgbF(0.98f, 0.822f, 0.0f));
        if (!mark.isNull()) {
            const QRectF box(number.x() + number.width() + 5, number.y() + 5, 18, 18);
            QSizeF fitted = QSizeF(mark.size()).scaled(box.size(), Qt::KeepAspectRatio);
            const QRectF target(box.x() + (box.width() - fitted.width()) / 2,
                                box.y() + (box.height() - fitted.height()) / 2, fitted.width(), fitted.height());
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(KavioFlippedGeometry::rect(target, h), mark);
            painter.restore();
        }
    }
    const QSizeF pixels = output->frame().size();
    drawCentredText(painter, QString::asprintf("%.0f x %.0f", pixels.width(), pixels.height()), 12, c, -2, h);
    QString name = output->screenName();
    const qsizetype bracket = name.indexOf(QStringLiteral(" ("));
    if (bracket >= 0)
        name.truncate(bracket);
    drawCentredText(painter, name, 12, c, -18, h);

    painter.setPen(QPen(colour, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r);

    if (!output->edgeBlendEnabled())
        return;
    // The bars in y-up coordinates, as the tile lays them out.
    const KavioEdgeBlendSettings blend = output->edgeBlendSettings();
    const QRectF bars[] = {
        blend.leftEdgeWidth > 0 ? QRectF(r.x(), r.y(), 5, r.height()) : QRectF(),
        blend.rightEdgeWidth > 0 ? QRectF(r.width() - 4, r.y(), 5, r.height()) : QRectF(),
        blend.topEdgeWidth > 0 ? QRectF(r.x(), r.height() - 4, r.width(), 5) : QRectF(),
        blend.bottomEdgeWidth > 0 ? QRectF(r.x(), r.y(), r.width(), 5) : QRectF(),
    };
    for (const QRectF& bar : bars)
        if (!bar.isEmpty())
            painter.fillRect(KavioFlippedGeometry::rect(bar, h), colour);
}

void KavioVideoOutputView::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;  // the secondary click: the tile has no menu of its own
    setIsSelected(true);
    NotificationCenter::defaultCenter().post(kKavioOutputViewDidSelectedNotification, object_.lock().get());
}

void KavioVideoOutputView::enterEvent(QEnterEvent*)
{
    if (!isSelected_)
        setShouldHover(true);
}

void KavioVideoOutputView::leaveEvent(QEvent*)
{
    if (!isSelected_)
        setShouldHover(false);
}
