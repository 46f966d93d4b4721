#pragma once
// One web page rendered by Qt WebEngine in a borderless window of its own with a transparent
// background, at a given size and place (the caller parks it just beside the screens), and read
// back as a picture each frame.
//
// Why a real window grabbed each frame: on Qt 6.4 the page's compositor output reaches us through
// QWidget::grab() under Xvfb with Mesa as on desktops, with no GL context shared with our render
// thread; an off-screen QQuickRenderControl would need the QML web view and a context shared with
// Chromium's. The price is one read-back per frame, at the (possibly reduced) capture size.
//
// Threads: main thread only (WebEngine's rule). Needs a QApplication; the program sets
// Qt::AA_ShareOpenGLContexts before making it. As root, Chromium's sandbox must be off
// (QTWEBENGINE_DISABLE_SANDBOX=1).

#include <QImage>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

class QWindow;

class WebPageRenderer {
public:
    // The page window, hidden until show(). Pages see `userAgent`.
    explicit WebPageRenderer(const QString& userAgent);
    ~WebPageRenderer();
    WebPageRenderer(const WebPageRenderer&) = delete;
    WebPageRenderer& operator=(const WebPageRenderer&) = delete;

    void load(const QUrl& url);
    // Called after each load with its success.
    void setLoadFinishedHandler(std::function<void(bool ok)> handler);
    // The text as a JavaScript string literal in double quotes: quotes, backslashes, line breaks
    // and the other control characters escaped, so nothing of it can end the literal.
    static QString stringLiteral(const QString& text);
    // Runs the script in the page; `done` gets an error text (a syntax error included), empty on
    // success.
    void runJavaScript(const QString& script, std::function<void(const QString& error)> done = {});
    // Runs the script and hands its result as text (tests).
    void evaluate(const QString& script, std::function<void(const QString& result)> done);

    // Frame of the page window, in Qt's global coordinates (y downward); shows it.
    void setGeometry(QPoint origin, QSize size);
    QSize size() const;
    // The page as premultiplied ARGB32 at the window's size; null before the page has painted.
    QImage grab();
    QWindow* window() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
