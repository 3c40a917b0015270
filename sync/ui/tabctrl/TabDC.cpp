#include "sync/ui/tabctrl/TabDC.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include <cstdlib>

namespace {

QColor ToQColor(TabColor c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

QPolygon ToPolygon(const std::vector<TabPoint>& points) {
    QPolygon polygon;
    for (const TabPoint& p : points) polygon << QPoint(p.x, p.y);
    return polygon;
}

}  // namespace

TabDC::TabDC(QPainter& painter, QFont normal, QFont selected)
    : painter_(painter), normal_(std::move(normal)), selected_(std::move(selected)) {
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setFont(normal_);
}

void TabDC::FillRect(const TabRect& rect, TabColor color) {
    if (rect.Empty()) return;
    painter_.fillRect(QRect(rect.l, rect.t, rect.Width(), rect.Height()), ToQColor(color));
}

void TabDC::SetPixel(int x, int y, TabColor color) { painter_.fillRect(QRect(x, y, 1, 1), ToQColor(color)); }

void TabDC::Line(int x1, int y1, int x2, int y2, TabColor color) {
    if (x1 == x2 && y1 == y2) return;
    if (y1 == y2) {
        const int from = x1 < x2 ? x1 : x2 + 1;
        const int to = x1 < x2 ? x2 : x1 + 1;
        FillRect({from, y1, to, y1 + 1}, color);
        return;
    }
    if (x1 == x2) {
        const int from = y1 < y2 ? y1 : y2 + 1;
        const int to = y1 < y2 ? y2 : y1 + 1;
        FillRect({x1, from, x1 + 1, to}, color);
        return;
    }
    // Bresenham, the end point excluded.
    const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
    const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
    int err = dx + dy, x = x1, y = y1;
    while (!(x == x2 && y == y2)) {
        SetPixel(x, y, color);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void TabDC::PolyLine(const std::vector<TabPoint>& points, TabColor color) {
    for (std::size_t i = 1; i < points.size(); ++i) Line(points[i - 1].x, points[i - 1].y, points[i].x, points[i].y, color);
}

void TabDC::PolyLine(std::initializer_list<TabPoint> points, TabColor color) {
    PolyLine(std::vector<TabPoint>(points), color);
}

void TabDC::Outline(const TabRect& r, TabColor color) {
    PolyLine({{r.l, r.t}, {r.l, r.b - 1}, {r.r - 1, r.b - 1}, {r.r - 1, r.t}, {r.l, r.t}}, color);
}

void TabDC::GradientV(const TabRect& rect, TabColor top, TabColor bottom) {
    if (rect.Empty()) return;
    const int h = rect.Height();
    for (int row = 0; row < h; ++row) {
        auto channel = [&](int a, int b) { return h > 1 ? a + (b - a) * row / (h - 1) : a; };
        const TabColor c = Rgb(channel(RedOf(top), RedOf(bottom)), channel(GreenOf(top), GreenOf(bottom)),
                               channel(BlueOf(top), BlueOf(bottom)));
        FillRect({rect.l, rect.t + row, rect.r, rect.t + row + 1}, c);
    }
}

void TabDC::FillPolygon(const std::vector<TabPoint>& points, TabColor brush) {
    const QRegion shape(ToPolygon(points), Qt::WindingFill);
    const QRegion area = clipped_ ? shape.intersected(clip_) : shape;
    for (const QRect& r : area) painter_.fillRect(r, ToQColor(brush));
}

void TabDC::Polygon(const std::vector<TabPoint>& points, TabColor brush, TabColor pen) {
    FillPolygon(points, brush);
    if (points.empty()) return;
    std::vector<TabPoint> closed = points;
    closed.push_back(points.front());
    PolyLine(closed, pen);
}

void TabDC::DrawEdge(const TabRect& r, bool raised, TabColor light, TabColor dark) {
    if (r.Empty()) return;
    const TabColor topLeft = raised ? light : dark;
    const TabColor bottomRight = raised ? dark : light;
    Line(r.l, r.b - 1, r.l, r.t, topLeft);
    Line(r.l, r.t, r.r - 1, r.t, topLeft);
    Line(r.r - 1, r.t, r.r - 1, r.b - 1, bottomRight);
    Line(r.r - 1, r.b - 1, r.l - 1, r.b - 1, bottomRight);
}

void TabDC::SetClipRect(const TabRect& rect) {
    clip_ = QRegion(rect.l, rect.t, std::max(0, rect.Width()), std::max(0, rect.Height()));
    clipped_ = true;
    painter_.setClipRegion(clip_);
}

void TabDC::IntersectClipPolygon(const std::vector<TabPoint>& points) {
    const QRegion shape(ToPolygon(points), Qt::WindingFill);
    clip_ = clipped_ ? clip_.intersected(shape) : shape;
    clipped_ = true;
    painter_.setClipRegion(clip_);
}

void TabDC::RestoreClip(const QRegion& region, bool clipped) {
    clip_ = region;
    clipped_ = clipped;
    if (clipped_) painter_.setClipRegion(clip_);
    else painter_.setClipping(false);
}

void TabDC::ClearClip() { RestoreClip(QRegion(), false); }

void TabDC::SelectFont(bool selected) { painter_.setFont(selected ? selected_ : normal_); }

TabSize TabDC::TextExtent(const std::u16string& text) const {
    const QFontMetrics metrics(painter_.font());
    return {metrics.horizontalAdvance(QString::fromStdU16String(text)), metrics.height()};
}

void TabDC::DrawText(const std::u16string& text, const TabRect& rect, TabColor color) {
    if (rect.Empty()) return;
    const QFontMetrics metrics(painter_.font());
    const QString shown = metrics.elidedText(QString::fromStdU16String(text), Qt::ElideRight, rect.Width());
    painter_.setPen(ToQColor(color));
    painter_.drawText(QRect(rect.l, rect.t, rect.Width(), rect.Height()),
                      Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

void TabDC::DrawImage(const TabImageList* list, int index, int x, int y) {
    const auto* images = dynamic_cast<const PixmapImageList*>(list);
    const QPixmap* image = images ? images->Image(index) : nullptr;
    if (image) painter_.drawPixmap(x, y, *image);
}

void TabDC::DrawGlyph(const TabImageList* list, int index, const TabRect& rect, TabColor color) {
    const auto* images = dynamic_cast<const PixmapImageList*>(list);
    const QPixmap* glyph = images ? images->Image(index) : nullptr;
    if (!glyph) return;
    QImage tinted = glyph->toImage().convertToFormat(QImage::Format_ARGB32);
    QPainter tint(&tinted);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(tinted.rect(), ToQColor(color));
    tint.end();
    const int w = std::min(rect.Width(), tinted.width());
    const int h = std::min(rect.Height(), tinted.height());
    if (w > 0 && h > 0) painter_.drawImage(QPoint(rect.l, rect.t), tinted, QRect(0, 0, w, h));
}

bool PointInPolygon(const std::vector<TabPoint>& points, int x, int y) {
    return QRegion(ToPolygon(points), Qt::WindingFill).contains(QPoint(x, y));
}
