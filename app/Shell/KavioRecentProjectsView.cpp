#include "Shell/KavioRecentProjectsView.h"

#include "KeyedArchive.h"
#include "Support/KavioFonts.h"

#include <QBuffer>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>

namespace {

const QColor kFocusColor = QColor::fromRgbF(0.0f, 0.656f, 0.929f, 1.0f);
// Larger files are not read for a preview: a project holds its cue records and one snapshot.
constexpr qint64 kMaxProjectFileBytes = 64LL * 1024 * 1024;

QColor white(double level)
{
    return QColor::fromRgbF(float(level), float(level), float(level), 1.0f);
}

}  // namespace

KavioRecentProjectsView::KavioRecentProjectsView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);
}

QImage KavioRecentProjectsView::previewOfProjectFile(const QString& path, QString* error)
{
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return QImage();
    };
    QFile file(path);
    if (file.size() > kMaxProjectFileBytes)
        return fail(QStringLiteral("the file is larger than %1 bytes").arg(kMaxProjectFileBytes));
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    QString archiveError;
    const std::optional<QVariantMap> root = KeyedArchive::unarchiveDictionary(file.readAll(), &archiveError);
    if (!root)
        return fail(archiveError);
    const QVariant quickLook = root->value(QStringLiteral("QLData"));
    if (quickLook.typeId() != QMetaType::QVariantMap)
        return fail(QStringLiteral("no QLData"));
    const QVariant png = quickLook.toMap().value(QStringLiteral("QLIMAGE"));
    if (png.typeId() != QMetaType::QByteArray)
        return fail(QStringLiteral("no QLIMAGE"));
    QByteArray bytes = png.toByteArray();
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kPreviewAllocationLimitMB);
    QImage image = reader.read();
    if (image.isNull())
        return fail(reader.errorString());
    return image;
}

QString KavioRecentProjectsView::middleTitle() const
{
    if (url_.isEmpty())
        return QStringLiteral("Create New Project...");
    if (image_.isNull())
        return QStringLiteral("Preview not available");
    return {};
}

void KavioRecentProjectsView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal w = width();
    const qreal h = height();
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillRect(frame, white(0.15));
    painter.setPen(QPen(hasFocus_ ? kFocusColor : white(0.1), 1.0));
    painter.drawRect(frame);

    const QString middle = middleTitle();
    if (!middle.isEmpty())
        drawTitle(painter, middle, true);
    if (url_.isEmpty())
        return;
    if (!image_.isNull()) {
        // Fit to the area above the title strip, or to the width when that is narrower.
        const qreal area = h - kTitleStripHeight;
        qreal drawWidth = area / image_.height() * image_.width();
        qreal drawHeight = area;
        if (drawWidth > w) {
            drawWidth = w;
            drawHeight = w * image_.height() / image_.width();
        }
        const qreal x = (w - drawWidth) / 2;
        const qreal yUp = kTitleStripHeight + (area - drawHeight) / 2;
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setOpacity(1.0);
        painter.drawImage(QRectF(x, h - yUp - drawHeight, drawWidth, drawHeight), image_);
    }
    drawTitle(painter, QFileInfo(url_).fileName(), false);
}

void KavioRecentProjectsView::drawTitle(QPainter& painter, const QString& text, bool middle) const
{
    const QFont font = KavioFonts::font(QStringLiteral("Helvetica-Light"), 11);
    const QSizeF size = QFontMetricsF(font).size(Qt::TextSingleLine, text);
    const qreal w = width();
    const qreal h = height();
    // Origins with y upwards from the bottom edge.
    const QPointF origin = middle ? QPointF(w / 2 - size.width() / 2 + 1, h / 2 - size.height() / 2 + 1)
                                  : QPointF(w / 2 - size.width() / 2 + 1, 10.5 - size.height() / 2);
    const QRectF upRect(origin, size);
    const QRectF rect = QRectF(upRect.x(), h - upRect.y() - upRect.height(), upRect.width(), upRect.height());
    painter.setFont(font);
    painter.setPen(QColor::fromRgbF(0.62f, 0.62f, 0.62f, 1.0f));
    painter.drawText(rect.toAlignedRect(), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void KavioRecentProjectsView::mousePressEvent(QMouseEvent*)
{
    if (!delegate_)
        return;
    if (url_.isEmpty())
        delegate_->newProject();
    else
        delegate_->loadProjectWithURL(url_);
}

void KavioRecentProjectsView::enterEvent(QEnterEvent*)
{
    hasFocus_ = true;
    update();
}

void KavioRecentProjectsView::leaveEvent(QEvent*)
{
    hasFocus_ = false;
    update();
}
