#pragma once
// Windows of other programs on the X server, listed and captured over xcb. The list holds normal
// windows with a name: the window manager's client list (_NET_CLIENT_LIST) when one runs, else the
// root window's mapped children. A window's owner is the name of its process (by _NET_WM_PID, on
// this machine) or else its window class. Capture reads the window's own contents through
// Composite (plain GetImage when the server lacks it, which shows what covers the window too),
// scaled to the asked size, with the cursor from XFixes on request.
//
// Under Wayland only XWayland windows are seen.
//
// Threads: one connection per object; use an object from one thread at a time. X errors (a
// window closed under us) are checked per request and never end the program.

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

struct X11WindowInfo {
    std::uint32_t id = 0;
    QString owner;
    QString name;
};

class X11WindowCapture {
public:
    // Connects to $DISPLAY (or `display` when given).
    explicit X11WindowCapture(const QString& display = QString());
    ~X11WindowCapture();
    X11WindowCapture(const X11WindowCapture&) = delete;
    X11WindowCapture& operator=(const X11WindowCapture&) = delete;

    bool isConnected() const;
    // The capturable windows, in stacking or client-list order.
    QList<X11WindowInfo> windows();
    // The window's picture as ARGB32 (alpha 255) scaled to `size` (its own size when empty), the
    // cursor drawn in when `withCursor`. A null image when the window is gone or unmapped.
    QImage grab(std::uint32_t window, QSize size, bool withCursor);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};
