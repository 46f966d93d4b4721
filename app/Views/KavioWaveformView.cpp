#include "Views/KavioWaveformView.h"

#include "Support/KavioAddons.h"
#include "Support/KavioFonts.h"
#include "Views/KavioFlippedGeometry.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

QColor white(double w, double alpha = 1.0)
{
    return QColor::fromRgbF(float(w), float(w), float(w), float(alpha));
}

QColor warningYellow() { return QColor::fromRgbF(0.98f, 0.822f, 0.0f); }
QColor informationGreen() { return QColor::fromRgbF(0.478f, 0.745f, 0.388f); }

}  // namespace

KavioWaveformView::KavioWaveformView(QWidget* parent) : QWidget(parent) {}

void KavioWaveformView::setDrawsMixing(bool mixing)
{
    shoulddrawsmixing_ = mixing;
    update();
}

void KavioWaveformView::setWaveformIsBuilding(bool building)
{
    shoulddrawwaveformisbuilding_ = building;
    if (building)
        update();
}

void KavioWaveformView::setImage(const QImage& image)
{
    image_ = image;
    update();
}

void KavioWaveformView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const double w = width();
    const double h = height();
    const auto qt = [h](const QRectF& upward) { return KavioFlippedGeometry::rect(upward, h); };
    painter.setFont(KavioFonts::font(QStringLiteral("Helvetica-Light"), 12));
    // The centred text's rectangle, y upwards, whole points.
    const auto textRect = [&](const QString& text) {
        const QSizeF size = painter.fontMetrics().size(0, text);
        return QRectF(std::round(w / 2 - size.width() / 2), std::round(h / 2 - size.height() / 2 + 1), size.width(),
                      size.height());
    };
    // Texts too wide for the strip are left out; the shadow lies one point above.
    const auto drawText = [&](const QString& text, const QColor& color) {
        const QRectF r = textRect(text);
        if (r.width() >= w - 20)
            return;
        painter.setPen(white(0.1));
        painter.drawText(qt(r).translated(0, -1), Qt::AlignCenter, text);
        painter.setPen(color);
        painter.drawText(qt(r), Qt::AlignCenter, text);
    };
    const auto box = [&](const QRectF& upward) {
        QPainterPath path;
        path.addRoundedRect(qt(upward), 3, 3);
        painter.fillPath(path, white(0.18));
        painter.setPen(QPen(white(0.1), 1));
        painter.drawPath(path);
    };

    painter.fillRect(qt({0, 0, 10, h}), white(0.18));
    painter.fillRect(qt({w - 10, 0, 10, h}), white(0.18));
    if (shoulddrawsmixing_) {
        drawText(QStringLiteral("Processing Transition..."), white(0.36));
        return;
    }
    painter.fillRect(qt({11, 0, 1, h}), white(0.1));
    painter.fillRect(qt({w - 11, 0, 1, h}), white(0.1));
    if (!image_.isNull())
        painter.drawImage(qt({11, 0, w - 22, h}), image_);
    for (int i = 0; i < channels_; ++i)
        painter.fillRect(qt({0, i * (h / channels_), w, 1}), white(0.1));
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Multiply);
    painter.fillRect(qt({10, 0, double(displayMin_), h}), white(0.1, 0.8));
    painter.fillRect(qt({double(displayMax_), 0, w - 10 - double(displayMax_), h}), white(0.1, 0.8));
    painter.restore();
    if (image_.isNull())
        drawText(QStringLiteral("No audio data to draw waveform."), white(0.36));
    if (shoulddrawwarning_) {
        const QRectF r = textRect(warningstring_);
        const bool information = warningType_ == 10;
        const double left = information ? 15 : 30;
        const QRectF frame(r.x() - left, r.y() - 2.5, r.width() + left, r.height() + 5);
        box(frame);
        drawText(warningstring_, information ? informationGreen() : warningYellow());
        if (!information) {
            const QImage icon = KavioAddons::tintImageWithColor(QImage(QStringLiteral(":/kavio_error.png")), warningYellow());
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(qt({frame.x() + 4.5, frame.y() + 7.5, 20, 20}), icon);
        }
    } else if (shoulddrawwaveformisbuilding_) {
        const QString text = QStringLiteral("Generating audio waveform...");
        const QRectF r = textRect(text);
        box({r.x() - 10, r.y() - 2.5, r.width() + 20, r.height() + 5});
        drawText(text, informationGreen());
    }
}
