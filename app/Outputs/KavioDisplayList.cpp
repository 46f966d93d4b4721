#include "Outputs/KavioDisplayList.h"

#include "GpuDisplayLink.h"
#include "Log.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QScreen>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace KavioEDID {

std::optional<Identity> parse(const QByteArray& edid)
{
    static const unsigned char header[8] = {0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00};
    if (edid.size() < 128 || std::memcmp(edid.constData(), header, 8) != 0)
        return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(edid.constData());
    unsigned sum = 0;
    for (int i = 0; i < 128; ++i)
        sum += b[i];
    if ((sum & 0xff) != 0)
        return std::nullopt;
    Identity id;
    id.vendor = std::uint32_t(b[8]) << 8 | b[9];
    id.model = std::uint32_t(b[10]) | std::uint32_t(b[11]) << 8;
    id.serial = std::uint32_t(b[12]) | std::uint32_t(b[13]) << 8 | std::uint32_t(b[14]) << 16 | std::uint32_t(b[15]) << 24;
    for (int d = 54; d <= 108; d += 18) {
        if (b[d] == 0 && b[d + 1] == 0 && b[d + 3] == 0xfc) {
            QByteArray text(reinterpret_cast<const char*>(b + d + 5), 13);
            const int end = text.indexOf('\n');
            id.productName = QString::fromLatin1(end >= 0 ? text.left(end) : text).trimmed();
            break;
        }
    }
    return id;
}

}  // namespace KavioEDID

QByteArray KavioSystemDisplayList::edidForScreen(const QScreen* screen)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return {};
    const QByteArray outputName = screen->name().toUtf8();
    QByteArray edid;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, 4, "EDID"), nullptr);
    if (!atom || atom->atom == XCB_ATOM_NONE) {
        std::free(atom);
        return {};
    }
    for (auto roots = xcb_setup_roots_iterator(setup); roots.rem && edid.isEmpty(); xcb_screen_next(&roots)) {
        auto* resources = xcb_randr_get_screen_resources_current_reply(
            connection, xcb_randr_get_screen_resources_current(connection, roots.data->root), nullptr);
        if (!resources)
            continue;
        const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_current_outputs(resources);
        for (int i = 0; i < xcb_randr_get_screen_resources_current_outputs_length(resources) && edid.isEmpty(); ++i) {
            auto* info = xcb_randr_get_output_info_reply(
                connection, xcb_randr_get_output_info(connection, outputs[i], resources->config_timestamp), nullptr);
            if (!info)
                continue;
            const QByteArray name(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info)),
                                  xcb_randr_get_output_info_name_length(info));
            std::free(info);
            if (name != outputName)
                continue;
            auto* property = xcb_randr_get_output_property_reply(
                connection,
                xcb_randr_get_output_property(connection, outputs[i], atom->atom, XCB_ATOM_ANY, 0, 256, 0, 0),
                nullptr);
            if (property) {
                edid = QByteArray(reinterpret_cast<const char*>(xcb_randr_get_output_property_data(property)),
                                  xcb_randr_get_output_property_data_length(property));
                std::free(property);
            }
        }
        std::free(resources);
    }
    std::free(atom);
    return edid;
}

std::vector<KavioDisplay> KavioSystemDisplayList::displays() const
{
    std::vector<KavioDisplay> list;
    if (!qGuiApp)
        return list;
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        KavioDisplay display;
        display.screen = screen;
        display.frame = screen->geometry();
        display.isMain = screen == primary;
        display.info.displayid = GpuDisplays::displayIdForScreen(screen);
        display.name = screen->model().isEmpty() ? screen->name() : screen->model();
        const QByteArray edid = edidForScreen(screen);
        if (const auto identity = KavioEDID::parse(edid)) {
            display.info.vendor = identity->vendor;
            display.info.model = identity->model;
            display.info.serial = identity->serial;
            if (!identity->productName.isEmpty())
                display.name = identity->productName;
        } else if (!edid.isEmpty()) {
            KLOG_ERROR("unreadable EDID of {} ({} bytes), ignored", screen->name().toStdString(), edid.size());
        }
        list.push_back(display);
    }
    return list;
}
