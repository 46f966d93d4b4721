#pragma once
// The cue list's window-modal progress sheet: a line of text over a progress bar, shown on the
// main window while cues load, are removed or converted. Main thread.

#include <QPointer>

class QDialog;
class QProgressBar;
class QString;
class QWidget;

struct KavioProgressSheet {
    QPointer<QDialog> window;
    QProgressBar* bar = nullptr;  // inside window

    // Opens a fresh sheet on `parent` (a running one closes first) with the bar at 0 of `maximum`.
    void open(QWidget* parent, const QString& text, int maximum);
    // Moves the bar on by `steps`; nothing without a sheet.
    void advance(int steps);
    // Closes the sheet; nothing without one.
    void close();
};
