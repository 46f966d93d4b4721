#include "Views/KavioIcons.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>
#include <map>

namespace {

constexpr int kSize = 32;
using Drawing = std::function<void(QPainter&)>;

QPen line(double width = 2.5) { return QPen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

void polyline(QPainter& p, std::initializer_list<QPointF> points) { p.drawPolyline(std::data(points), int(points.size())); }

void chevron(QPainter& p, bool up)
{
    p.setPen(line(3));
    polyline(p, up ? std::initializer_list<QPointF>{{8, 20}, {16, 12}, {24, 20}}
                   : std::initializer_list<QPointF>{{8, 12}, {16, 20}, {24, 12}});
}

// A ramp from the bottom left to the top right (fade in) or the reverse, over a base line.
void ramp(QPainter& p, bool in)
{
    p.setPen(line());
    p.drawLine(QPointF(4, 26), QPointF(28, 26));
    polyline(p, in ? std::initializer_list<QPointF>{{4, 26}, {22, 7}, {28, 7}}
                   : std::initializer_list<QPointF>{{4, 7}, {10, 7}, {28, 26}});
}

// A hard edge: the level jumps at the cut.
void cut(QPainter& p, bool in)
{
    p.setPen(line());
    p.drawLine(QPointF(4, 26), QPointF(28, 26));
    polyline(p, in ? std::initializer_list<QPointF>{{10, 26}, {10, 7}, {28, 7}}
                   : std::initializer_list<QPointF>{{4, 7}, {22, 7}, {22, 26}});
}

// Two frames crossing.
void transition(QPainter& p, bool broken)
{
    p.setPen(line());
    p.drawRoundedRect(QRectF(4, 6, 15, 13), 2, 2);
    p.drawRoundedRect(QRectF(13, 13, 15, 13), 2, 2);
    if (broken) {
        p.setPen(line(3));
        p.drawLine(QPointF(5, 28), QPointF(27, 4));
    }
}

void gotoArrow(QPainter& p, bool up)
{
    p.setPen(line());
    QPainterPath path;
    path.moveTo(8, up ? 26 : 6);
    path.lineTo(8, 16);
    path.lineTo(24, 16);
    path.lineTo(24, up ? 6 : 26);
    p.drawPath(path);
    polyline(p, up ? std::initializer_list<QPointF>{{19, 11}, {24, 6}, {29, 11}}
                   : std::initializer_list<QPointF>{{19, 21}, {24, 26}, {29, 21}});
}

void clockFace(QPainter& p)
{
    p.setPen(line());
    p.drawEllipse(QPointF(16, 16), 12, 12);
    polyline(p, {{16, 8}, {16, 16}, {22, 19}});
}

const std::map<QString, Drawing>& drawings()
{
    static const std::map<QString, Drawing> table{
        {QStringLiteral("kavio_movie"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(4, 6, 24, 20), 2, 2);
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::white);
             for (int i = 0; i < 4; ++i) {
                 p.drawRect(QRectF(7 + i * 5.5, 8, 3, 3));
                 p.drawRect(QRectF(7 + i * 5.5, 21, 3, 3));
             }
             p.drawPolygon(QPolygonF({{13, 12.5}, {13, 19.5}, {19, 16}}));
         }},
        {QStringLiteral("kavio_camera"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(3, 9, 19, 14), 2, 2);
             p.drawPolygon(QPolygonF({{22, 14}, {29, 10}, {29, 22}, {22, 18}}));
         }},
        {QStringLiteral("kavio_syphon"),
         [](QPainter& p) {
             // One picture handed to another program: a frame and its copy, linked.
             p.setPen(line());
             p.drawRect(QRectF(3, 5, 14, 11));
             p.drawRect(QRectF(15, 16, 14, 11));
             polyline(p, {{10, 16}, {10, 22}, {15, 22}});
         }},
        {QStringLiteral("kavio_ndi"),
         [](QPainter& p) {
             // A source sending over the network: a dot with waves.
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::white);
             p.drawEllipse(QPointF(8, 24), 3, 3);
             p.setBrush(Qt::NoBrush);
             p.setPen(line());
             p.drawArc(QRectF(-2, 14, 20, 20), 0, 90 * 16);
             p.drawArc(QRectF(-10, 6, 36, 36), 0, 90 * 16);
         }},
        {QStringLiteral("kavio_still"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(4, 6, 24, 20), 2, 2);
             polyline(p, {{5, 24}, {13, 15}, {19, 21}, {22, 18}, {27, 23}});
             p.drawEllipse(QPointF(21, 12), 2, 2);
         }},
        {QStringLiteral("kavio_browser"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawEllipse(QPointF(16, 16), 12, 12);
             p.drawEllipse(QRectF(10, 4, 12, 24));
             p.drawLine(QPointF(4, 16), QPointF(28, 16));
         }},
        {QStringLiteral("kavio_window"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(4, 6, 24, 20), 2, 2);
             p.drawLine(QPointF(4, 11), QPointF(28, 11));
         }},
        {QStringLiteral("kavio_audio"),
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::white);
             p.drawPolygon(QPolygonF({{4, 12}, {10, 12}, {17, 6}, {17, 26}, {10, 20}, {4, 20}}));
             p.setBrush(Qt::NoBrush);
             p.setPen(line());
             p.drawArc(QRectF(13, 10, 10, 12), -60 * 16, 120 * 16);
             p.drawArc(QRectF(12, 5, 16, 22), -60 * 16, 120 * 16);
         }},
        {QStringLiteral("kavio_expand2"), [](QPainter& p) { chevron(p, false); }},
        {QStringLiteral("kavio_collapse2"), [](QPainter& p) { chevron(p, true); }},
        {QStringLiteral("kavio_fadein"), [](QPainter& p) { ramp(p, true); }},
        {QStringLiteral("kavio_fadeout"), [](QPainter& p) { ramp(p, false); }},
        {QStringLiteral("kavio_cut_in"), [](QPainter& p) { cut(p, true); }},
        {QStringLiteral("kavio_cut_out"), [](QPainter& p) { cut(p, false); }},
        {QStringLiteral("kavio_transition"), [](QPainter& p) { transition(p, false); }},
        {QStringLiteral("kavio_transition_broken"), [](QPainter& p) { transition(p, true); }},
        {QStringLiteral("kavio_goto_up"), [](QPainter& p) { gotoArrow(p, true); }},
        {QStringLiteral("kavio_goto_down"), [](QPainter& p) { gotoArrow(p, false); }},
        {QStringLiteral("kavio_play"),
         [](QPainter& p) {
             p.setPen(Qt::NoPen);
             p.setBrush(Qt::white);
             p.drawPolygon(QPolygonF({{9, 5}, {9, 27}, {27, 16}}));
         }},
        {QStringLiteral("kavio_wait"), clockFace},
        {QStringLiteral("kavio_timecode"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(3, 8, 26, 16), 3, 3);
             polyline(p, {{8, 20}, {8, 12}, {12, 12}});
             p.drawLine(QPointF(16, 12), QPointF(16, 20));
             p.drawLine(QPointF(21, 12), QPointF(25, 12));
             p.drawLine(QPointF(21, 20), QPointF(25, 20));
         }},
        {QStringLiteral("kavio_timecode_lost"),
         [](QPainter& p) {
             p.setPen(line());
             p.drawRoundedRect(QRectF(3, 8, 26, 16), 3, 3);
             p.setPen(line(3));
             p.drawLine(QPointF(4, 28), QPointF(28, 4));
         }},
    };
    return table;
}

}  // namespace

QImage KavioIcons::image(const QString& name)
{
    const auto found = drawings().find(name);
    if (found == drawings().end())
        return {};
    QImage icon(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    found->second(painter);
    return icon;
}

QStringList KavioIcons::names()
{
    QStringList all;
    for (const auto& [name, drawing] : drawings())
        all.append(name);
    return all;
}
