#pragma once
// Dialog templates give their geometry in dialog units, which the dialog font turns into
// pixels through its average character width and height (x × width / 4, y × height / 8).
#include <QFont>
#include <QRect>
#include <QSize>

namespace plat::qt {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const { return (units * baseX_ + 2) / 4; }
    int Y(int units) const { return (units * baseY_ + 4) / 8; }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }
    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

private:
    int baseX_ = 6;
    int baseY_ = 13;
};

}  // namespace plat::qt
