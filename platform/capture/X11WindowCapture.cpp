#include "X11WindowCapture.h"

#include "Log.h"

#include <QFile>
#include <QPainter>

#include <xcb/composite.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <typename T>
struct Reply {
    T* value = nullptr;
    explicit Reply(T* v) : value(v) {}
    ~Reply() { std::free(value); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
};

}  // namespace

struct X11WindowCapture::Impl {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    bool composite = false;
    bool xfixes = false;
    xcb_atom_t clientList = 0, wmPid = 0, wmName = 0, utf8 = 0, windowType = 0, typeNormal = 0;

    xcb_atom_t atom(const char* name)
    {
        Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    // The property's bytes; empty when absent or on an X error.
    QByteArray property(xcb_window_t window, xcb_atom_t name, xcb_atom_t type, uint32_t longs = 4096)
    {
        Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, name, type, 0, longs), nullptr));
        if (!reply || reply->type == XCB_ATOM_NONE)
            return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.value)),
                          xcb_get_property_value_length(reply.value));
    }

    std::vector<uint32_t> listOf(xcb_window_t window, xcb_atom_t name, xcb_atom_t type)
    {
        const QByteArray bytes = property(window, name, type);
        std::vector<uint32_t> values(size_t(bytes.size()) / 4);
        std::memcpy(values.data(), bytes.constData(), values.size() * 4);
        return values;
    }

    QString nameOf(xcb_window_t window)
    {
        const QByteArray utf = property(window, wmName, utf8);
        if (!utf.isEmpty())
            return QString::fromUtf8(utf);
        return QString::fromLocal8Bit(property(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING));
    }

    QString ownerOf(xcb_window_t window)
    {
        const std::vector<uint32_t> pid = listOf(window, wmPid, XCB_ATOM_CARDINAL);
        if (!pid.empty()) {
            QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.front()));
            if (comm.open(QIODevice::ReadOnly))
                if (const QString name = QString::fromUtf8(comm.readAll()).trimmed(); !name.isEmpty())
                    return name;
        }
        // WM_CLASS is "instance\0class\0".
        const QList<QByteArray> parts = property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0');
        return parts.size() >= 2 ? QString::fromLocal8Bit(parts[1]) : QString();
    }

    bool isNormal(xcb_window_t window)
    {
        const std::vector<uint32_t> types = listOf(window, windowType, XCB_ATOM_ATOM);
        return types.empty() || std::find(types.begin(), types.end(), typeNormal) != types.end();
    }

    std::vector<xcb_window_t> candidates()
    {
        std::vector<xcb_window_t> listed = listOf(root, clientList, XCB_ATOM_WINDOW);
        if (!listed.empty())
            return listed;
        Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
        if (!tree)
            return {};
        const xcb_window_t* children = xcb_query_tree_children(tree.value);
        for (int i = 0; i < xcb_query_tree_children_length(tree.value); ++i) {
            Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
                connection, xcb_get_window_attributes(connection, children[i]), nullptr));
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && !attributes->override_redirect)
                listed.push_back(children[i]);
        }
        return listed;
    }

    void drawCursor(QImage& image, xcb_window_t window)
    {
        Reply<xcb_xfixes_get_cursor_image_reply_t> cursor(
            xcb_xfixes_get_cursor_image_reply(connection, xcb_xfixes_get_cursor_image(connection), nullptr));
        Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
            connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr));
        if (!cursor || !origin || cursor->width == 0)
            return;
        const QImage pointer(reinterpret_cast<const uchar*>(xcb_xfixes_get_cursor_image_cursor_image(cursor.value)),
                             cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        painter.drawImage(QPoint(cursor->x - cursor->xhot - origin->dst_x, cursor->y - cursor->yhot - origin->dst_y), pointer);
    }
};

X11WindowCapture::X11WindowCapture(const QString& display) : impl_(std::make_unique<Impl>())
{
    const QByteArray name = display.toLocal8Bit();
    int screenNumber = 0;
    impl_->connection = xcb_connect(display.isEmpty() ? nullptr : name.constData(), &screenNumber);
    if (xcb_connection_has_error(impl_->connection)) {
        KLOG_WARN("window capture: no X display");
        xcb_disconnect(impl_->connection);
        impl_->connection = nullptr;
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(impl_->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    impl_->root = screens.data->root;
    Impl& x = *impl_;
    x.clientList = x.atom("_NET_CLIENT_LIST");
    x.wmPid = x.atom("_NET_WM_PID");
    x.wmName = x.atom("_NET_WM_NAME");
    x.utf8 = x.atom("UTF8_STRING");
    x.windowType = x.atom("_NET_WM_WINDOW_TYPE");
    x.typeNormal = x.atom("_NET_WM_WINDOW_TYPE_NORMAL");
    Reply<xcb_composite_query_version_reply_t> composite(xcb_composite_query_version_reply(
        x.connection, xcb_composite_query_version(x.connection, 0, 2), nullptr));
    x.composite = bool(composite);
    Reply<xcb_xfixes_query_version_reply_t> xfixes(
        xcb_xfixes_query_version_reply(x.connection, xcb_xfixes_query_version(x.connection, 4, 0), nullptr));
    x.xfixes = bool(xfixes);
}

X11WindowCapture::~X11WindowCapture()
{
    if (impl_->connection)
        xcb_disconnect(impl_->connection);
}

bool X11WindowCapture::isConnected() const
{
    return impl_->connection != nullptr;
}

QList<X11WindowInfo> X11WindowCapture::windows()
{
    QList<X11WindowInfo> result;
    if (!impl_->connection)
        return result;
    for (const xcb_window_t window : impl_->candidates()) {
        if (!impl_->isNormal(window))
            continue;
        const QString name = impl_->nameOf(window);
        if (name.isEmpty())
            continue;
        result.append({window, impl_->ownerOf(window), name});
    }
    return result;
}

QImage X11WindowCapture::grab(std::uint32_t window, QSize size, bool withCursor)
{
    Impl& x = *impl_;
    if (!x.connection)
        return {};
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(x.connection, xcb_get_geometry(x.connection, window), nullptr));
    if (!geometry || geometry->width == 0 || geometry->height == 0)
        return {};
    xcb_drawable_t source = window;
    xcb_pixmap_t pixmap = 0;
    if (x.composite) {
        // Redirecting is idempotent and automatic: the server still paints the window on screen.
        xcb_composite_redirect_window(x.connection, window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        pixmap = xcb_generate_id(x.connection);
        if (xcb_generic_error_t* error = xcb_request_check(x.connection, xcb_composite_name_window_pixmap_checked(x.connection, window, pixmap))) {
            std::free(error);
            pixmap = 0;
        } else {
            source = pixmap;
        }
    }
    Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
        x.connection,
        xcb_get_image(x.connection, XCB_IMAGE_FORMAT_Z_PIXMAP, source, 0, 0, geometry->width, geometry->height, ~0u),
        nullptr));
    if (pixmap)
        xcb_free_pixmap(x.connection, pixmap);
    if (!image || (image->depth != 24 && image->depth != 32))
        return {};
    const int width = geometry->width, height = geometry->height;
    const int length = xcb_get_image_data_length(image.value);
    if (length < width * height * 4)
        return {};
    // Z pixmaps of depth 24 and 32 are 32 bits a pixel, B G R X in memory on this server order.
    QImage picture(xcb_get_image_data(image.value), width, height, width * 4, QImage::Format_RGB32);
    QImage result = picture.convertToFormat(QImage::Format_ARGB32);
    if (withCursor && x.xfixes)
        x.drawCursor(result, window);
    if (!size.isEmpty() && size != result.size())
        result = result.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return result;
}
