#pragma once
// The drawing context of the tab control: the primitives every style draws with, on a
// QPainter over the control's off-screen image.
//
// The primitives are pixel-exact in the manner the styles are written for: a line from A
// to B paints A and stops before B; a polyline paints each segment so; rectangles are
// (l, t, r, b) with r and b exclusive; a vertical gradient puts colour 1 on the top row and
// moves linearly toward colour 2 on the bottom row. Nothing is anti-aliased.
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QRegion>

#include <initializer_list>
#include <string>
#include <vector>

#include "sync/ui/tabctrl/TabCtrl.h"

class QPainter;

struct TabPoint {
    int x = 0, y = 0;
};

// An image list made of pixmaps (tab images, or the buttons' glyphs whose alpha is the
// shape painted in one colour).
class PixmapImageList final : public TabImageList {
public:
    PixmapImageList(TabSize size, std::vector<QPixmap> images) : size_(size), images_(std::move(images)) {}
    TabSize ImageSize() const override { return size_; }
    int Count() const override { return static_cast<int>(images_.size()); }
    const QPixmap* Image(int index) const {
        return index >= 0 && index < Count() ? &images_[static_cast<std::size_t>(index)] : nullptr;
    }

private:
    TabSize size_;
    std::vector<QPixmap> images_;
};

class TabDC {
public:
    TabDC(QPainter& painter, QFont normal, QFont selected);
    QPainter& Painter() { return painter_; }

    void FillRect(const TabRect& rect, TabColor color);
    void Line(int x1, int y1, int x2, int y2, TabColor color);
    void PolyLine(std::initializer_list<TabPoint> points, TabColor color);
    void PolyLine(const std::vector<TabPoint>& points, TabColor color);
    void SetPixel(int x, int y, TabColor color);
    // (l, t) → (l, b−1) → (r−1, b−1) → (r−1, t) → (l, t).
    void Outline(const TabRect& rect, TabColor color);
    void GradientV(const TabRect& rect, TabColor top, TabColor bottom);
    // Fills the polygon (winding rule) with `brush`, then draws its outline point to point
    // in `pen`, the last point included.
    void Polygon(const std::vector<TabPoint>& points, TabColor brush, TabColor pen);
    void FillPolygon(const std::vector<TabPoint>& points, TabColor brush);
    // A raised or sunken edge over the rectangle.
    void DrawEdge(const TabRect& rect, bool raised, TabColor light, TabColor dark);

    // Clipping: a rectangle, a polygon intersected with the current clip, or none.
    void SetClipRect(const TabRect& rect);
    void IntersectClipPolygon(const std::vector<TabPoint>& points);
    QRegion Clip() const { return clip_; }
    bool HasClip() const { return clipped_; }
    void RestoreClip(const QRegion& region, bool clipped);
    void ClearClip();

    void SelectFont(bool selected);
    // One line, vertically centred, cut with an ellipsis at the end when too long.
    void DrawText(const std::u16string& text, const TabRect& rect, TabColor color);
    TabSize TextExtent(const std::u16string& text) const;
    void DrawImage(const TabImageList* list, int index, int x, int y);
    // The glyph's shape in one colour at the rectangle's top-left, clipped to the smaller
    // of the rectangle and the glyph.
    void DrawGlyph(const TabImageList* list, int index, const TabRect& rect, TabColor color);

private:
    QPainter& painter_;
    QFont normal_, selected_;
    QRegion clip_;
    bool clipped_ = false;
};

// A point inside the polygon (winding rule), as the shape hit tests ask.
bool PointInPolygon(const std::vector<TabPoint>& points, int x, int y);
