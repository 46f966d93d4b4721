#pragma once
// One timed caption: its lines, top first, shown from startTime to endTime (both inclusive).
// Made by the caption readers, drawn by QVTCaptionRenderer. After a reader has finished, only
// hasTransparency still changes (the renderer sets it on the render thread), so it is atomic.

#include "Caption/AttributedString.h"
#include "MediaTime.h"

#include <QString>

#include <atomic>
#include <memory>
#include <vector>

struct QVTCaptionLine {
    AttributedString text;
};

class QVTCaption {
public:
    bool hasTransparency() const { return hasTransparency_.load(std::memory_order_relaxed); }
    void setHasTransparency(bool value) { hasTransparency_.store(value, std::memory_order_relaxed); }

    bool drawBackgroundRectangle = false;  // one box in the subtitle background colour
    long alignment = 0;                    // 2: centred; otherwise the block starts at 1/10 of the width
    std::vector<QVTCaptionLine> lines;
    MediaTime startTime;
    MediaTime endTime;

    // "<QVTCaption %2d lines, displayed from %6.2fs to %6.2fs>"
    QString description() const;
    // Whether any line's plain text contains the text (case-sensitive).
    bool anyLineContainsText(const QString& text) const;

private:
    std::atomic<bool> hasTransparency_{false};
};

using QVTCaptionPtr = std::shared_ptr<QVTCaption>;
