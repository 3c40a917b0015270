#include "client/ui/BitButtonNL.h"

#include <QEnterEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "client/ui/ClientResources.h"

BitButtonFace ChooseBitButtonFace(const BitButtonBitmaps& available, bool disabled, bool pressed, bool hover) {
    if (disabled) return available.disabled ? BitButtonFace::Disabled : BitButtonFace::NormalGreyed;
    if (pressed) return available.pressed ? BitButtonFace::Pressed : BitButtonFace::Normal;
    if (hover) return available.hover ? BitButtonFace::Hover : BitButtonFace::Normal;
    return BitButtonFace::Normal;
}

QImage GreyedBitmap(const QImage& image) {
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]));
        }
    }
    return out;
}

void PremultiplyAlpha(std::uint8_t* pixels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* pixel = pixels + i * 4;
        if (pixel[0] != 255) pixel[3] = 255;
        for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>(pixel[c] * pixel[3] / 255);
    }
}

bool PremultiplyAlpha(QImage& image) {
    // ARGB32 and RGB32 keep each pixel as one 32-bit word: blue, green, red, alpha in
    // memory on this (little-endian) machine.
    if (image.format() != QImage::Format_ARGB32 && image.format() != QImage::Format_RGB32) return false;
    for (int y = 0; y < image.height(); ++y)
        PremultiplyAlpha(image.scanLine(y), static_cast<std::size_t>(image.width()));
    return true;
}

CBitButtonNL::CBitButtonNL(QWidget* parent) : QPushButton(parent), font_(font()) {
    setAutoDefault(false);
    setAttribute(Qt::WA_Hover, true);
    setFocusPolicy(Qt::StrongFocus);
}

void CBitButtonNL::Changed(bool repaint) {
    if (repaint) this->repaint();
    else update();
}

bool CBitButtonNL::SetBitmaps(const QPixmap& normal, const QPixmap& pressed, const QPixmap& hover,
                              const QPixmap& disabled, bool repaint) {
    normal_ = pressed_ = hoverBitmap_ = disabled_ = greyed_ = QPixmap();
    if (normal.isNull()) {
        Changed(repaint);
        return false;
    }
    normal_ = normal;
    pressed_ = pressed;
    hoverBitmap_ = hover;
    disabled_ = disabled;
    greyed_ = QPixmap::fromImage(GreyedBitmap(normal.toImage()));
    updateGeometry();
    Changed(repaint);
    return true;
}

bool CBitButtonNL::SetBitmapIds(int normal, int pressed, int hover, int disabled, bool repaint) {
    auto load = [](int id) { return id != 0 ? client_ui::Bitmap(id) : QPixmap(); };
    return SetBitmaps(load(normal), load(pressed), load(hover), load(disabled), repaint);
}

void CBitButtonNL::SizeToBitmap() {
    if (!normal_.isNull()) resize(normal_.deviceIndependentSize().toSize());
}

void CBitButtonNL::SetShowText(bool show, bool repaint) {
    showText_ = show;
    Changed(repaint);
}

void CBitButtonNL::SetBold(bool bold, bool repaint) {
    font_.setWeight(bold ? QFont::Bold : QFont::Normal);
    Changed(repaint);
}

void CBitButtonNL::SetFontName(const QString& face, bool repaint) {
    font_.setFamily(face);
    Changed(repaint);
}

void CBitButtonNL::SetUnderline(bool underline, bool repaint) {
    font_.setUnderline(underline);
    Changed(repaint);
}

void CBitButtonNL::SetItalic(bool italic, bool repaint) {
    font_.setItalic(italic);
    Changed(repaint);
}

void CBitButtonNL::SetFontSize(int points, bool repaint) {
    if (points > 0) font_.setPointSize(points);
    Changed(repaint);
}

void CBitButtonNL::SetButtonFont(const QFont& font, bool repaint) {
    font_ = font;
    Changed(repaint);
}

void CBitButtonNL::SetPressedShift(bool shift, int x, int y, bool repaint) {
    pressedShift_ = shift;
    shiftX_ = x;
    shiftY_ = y;
    Changed(repaint);
}

void CBitButtonNL::SetTextColors(const QColor& normal, const QColor& hover, bool repaint) {
    textNormal_ = normal;
    textHover_ = hover;
    Changed(repaint);
}

void CBitButtonNL::SetPressedTextColor(const QColor& color, bool repaint) {
    textPressed_ = color;
    Changed(repaint);
}

void CBitButtonNL::SetDisabledText(bool disabledStyle, bool repaint) {
    disabledText_ = disabledStyle;
    Changed(repaint);
}

void CBitButtonNL::SetFocusRect(bool draw, bool repaint) {
    focusRect_ = draw;
    Changed(repaint);
}

void CBitButtonNL::SetHoverCursor(const QCursor& cursor) { setCursor(cursor); }

BitButtonFace CBitButtonNL::CurrentFace() const {
    BitButtonBitmaps available;
    available.pressed = !pressed_.isNull();
    available.hover = !hoverBitmap_.isNull();
    available.disabled = !disabled_.isNull();
    return ChooseBitButtonFace(available, !isEnabled(), isDown(), hover_);
}

QColor CBitButtonNL::CurrentTextColor() const {
    if (!isEnabled()) return disabledText_ ? QColor(0xa0, 0xa0, 0xa0) : textNormal_;
    if (isDown()) return textPressed_.value_or(hover_ ? textHover_ : textNormal_);
    return hover_ ? textHover_ : textNormal_;
}

QSize CBitButtonNL::sizeHint() const {
    if (!normal_.isNull()) return normal_.deviceIndependentSize().toSize();
    return QSize(75, 23);
}

void CBitButtonNL::enterEvent(QEnterEvent* event) {
    hover_ = true;
    update();
    QPushButton::enterEvent(event);
}

void CBitButtonNL::leaveEvent(QEvent* event) {
    hover_ = false;
    update();
    QPushButton::leaveEvent(event);
}

void CBitButtonNL::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    DrawBitmap(painter);
    DrawText(painter);
    if (focusRect_ && hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CBitButtonNL::DrawBitmap(QPainter& painter) {
    const QPixmap* picture = &normal_;
    switch (CurrentFace()) {
        case BitButtonFace::Pressed: picture = &pressed_; break;
        case BitButtonFace::Hover: picture = &hoverBitmap_; break;
        case BitButtonFace::Disabled: picture = &disabled_; break;
        case BitButtonFace::NormalGreyed: picture = &greyed_; break;
        case BitButtonFace::Normal: break;
    }
    if (!picture->isNull()) painter.drawPixmap(rect(), *picture);
}

void CBitButtonNL::DrawText(QPainter& painter) {
    if (!showText_ || text().isEmpty()) return;
    QRect area = rect();
    if (pressedShift_ && isDown()) area.translate(shiftX_, shiftY_);
    painter.setFont(font_);
    painter.setPen(CurrentTextColor());
    painter.drawText(area, Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

void SkinButton(CBitButtonNL& button, int normal, int pressed, int hover, int disabled, const QString& text) {
    button.SetBitmapIds(normal, pressed, hover, disabled, false);
    button.SetTextColors(Qt::white, Qt::white, false);
    button.SetPressedShift(true, 1, 1, false);
    button.setText(text);
    button.SizeToBitmap();
}
