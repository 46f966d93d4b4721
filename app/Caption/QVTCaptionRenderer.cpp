#include "Caption/QVTCaptionRenderer.h"

#include "Rendering/KavioOverlayFontManager.h"
#include "Log.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

namespace {

QTextCharFormat charFormat(const TextAttributes& attributes)
{
    QTextCharFormat format;
    if (attributes.font) {
        format.setFont(*attributes.font);
    }
    if (attributes.foreground) {
        format.setForeground(attributes.foreground->toQColor());
    }
    if (attributes.underlineStyle) {
        format.setFontUnderline(true);
    }
    return format;
}

}  // namespace

std::vector<QVTCaptionRendererLine> QVTCaptionRenderer::linesForCaption(QVTCaption& caption, QSizeF* outputTotalSize)
{
    caption.setHasTransparency(KavioOverlayFontManager::sharedManager().subtitleHasTransparency());
    std::vector<QVTCaptionRendererLine> result;
    for (const QVTCaptionLine& captionLine : caption.lines) {
        const AttributedString& text = captionLine.text;
        auto layout = std::make_shared<QTextLayout>(text.string());
        QList<QTextLayout::FormatRange> formats;
        int start = 0;
        for (const auto& run : text.runs()) {
            formats.append({start, int(run.text.size()), charFormat(run.attributes)});
            start += int(run.text.size());
        }
        const auto firstFont = text.attributesAt(0).font;
        if (firstFont) {
            layout->setFont(*firstFont);
        }
        layout->setFormats(formats);
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        option.setFlags(QTextOption::IncludeTrailingSpaces);
        layout->setTextOption(option);
        layout->beginLayout();
        QTextLine line = layout->createLine();
        if (line.isValid()) {
            line.setLineWidth(1e6);
        }
        layout->endLayout();

        QVTCaptionRendererLine entry;
        entry.ctline = layout;
        entry.ascent = line.isValid() ? line.ascent() : 0;
        entry.width = line.isValid() ? line.naturalTextWidth() : 0;
        if (firstFont) {
            const QFontMetricsF metrics(*firstFont);
            entry.leading = metrics.ascent() + metrics.descent();
        }
        outputTotalSize->setWidth(std::max(outputTotalSize->width(), entry.width));
        outputTotalSize->setHeight(outputTotalSize->height() + entry.leading);
        result.push_back(std::move(entry));
    }
    return result;
}

QVTCaptionRenderer::Placement QVTCaptionRenderer::placeLines(const std::vector<QVTCaptionRendererLine>& lines,
                                                             QSizeF total, long captionAlignment, long alignment,
                                                             QSizeF size)
{
    const double w = size.width(), h = size.height();
    const double x0 = captionAlignment == 2 ? w * 0.5 - total.width() * 0.5 : w * 0.1;
    const double yTop = h * 0.05 + total.height();
    Placement placement;
    placement.box = QRectF(x0 - 5, h * 0.05 - 5, total.width() + 10, total.height() + 10);
    double offset = lines.empty() ? 0 : lines.front().ascent - 1.0;
    for (const auto& line : lines) {
        const double x = alignment == 2 ? x0 + (total.width() - line.width) * 0.5 : x0;
        placement.origins.emplace_back(x, yTop - offset);
        offset += line.leading;
    }
    return placement;
}

void QVTCaptionRenderer::renderCaption(QVTCaption* caption, long alignment, QPainter& context, QSizeF size)
{
    if (!caption) {
        return;
    }
    QSizeF total(0, 0);
    const auto lines = linesForCaption(*caption, &total);
    const Placement placement = placeLines(lines, total, caption->alignment, alignment, size);
    const double h = size.height();
    if (caption->drawBackgroundRectangle) {
        const QRectF& box = placement.box;
        context.fillRect(QRectF(box.x(), h - box.bottom(), box.width(), box.height()),
                         KavioOverlayFontManager::sharedManager().subtitleBackgroundColor().toQColor());
    }
    if (lines.empty()) {
        KLOG_VERBOSE(":: error on displaying caption - there is no line to render!");
        return;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        // QTextLayout draws from the line's top; the baseline lies one ascent below it.
        const QPointF baseline(placement.origins[i].x(), h - placement.origins[i].y());
        lines[i].ctline->draw(&context, QPointF(baseline.x(), baseline.y() - lines[i].ascent));
    }
}
