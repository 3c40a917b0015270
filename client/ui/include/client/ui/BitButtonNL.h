#pragma once
// The client's skinned push button: it draws bitmaps of our own for its states (normal,
// pressed, hover, disabled; only the normal one is required) and its text over them.
//
// Which bitmap a state draws is decided by ChooseBitButtonFace, free of widgets: a
// disabled button draws its disabled bitmap, or the normal one greyed when it has none;
// a pressed button its pressed bitmap, else the normal one; a button under the pointer
// its hover bitmap, else the normal one. Every setter takes a last argument that asks for
// an immediate redraw; the font setters rebuild the font. UI thread only.
#include <QPushButton>
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QPixmap>

#include <cstddef>
#include <cstdint>
#include <optional>

enum class BitButtonFace { Normal, Pressed, Hover, Disabled, NormalGreyed };

// Which optional bitmaps a button has.
struct BitButtonBitmaps {
    bool pressed = false;
    bool hover = false;
    bool disabled = false;
};
BitButtonFace ChooseBitButtonFace(const BitButtonBitmaps& available, bool disabled, bool pressed, bool hover);

// The normal bitmap as a disabled button shows it: grey, lighter, same transparency.
QImage GreyedBitmap(const QImage& image);

// Premultiplies the colours of a 32-bit bitmap by its alpha, as the layered drawing of
// the login and version dialogs wants it. `pixels` holds `count` pixels of four bytes
// each, colour bytes first (blue, green, red) and alpha last: for every pixel whose first
// colour byte is not 255 the alpha byte becomes 255; then each colour byte becomes
// byte x alpha / 255.
void PremultiplyAlpha(std::uint8_t* pixels, std::size_t count);
// The same on an image: only 32-bit images (false, unchanged, for any other format).
bool PremultiplyAlpha(QImage& image);

class CBitButtonNL : public QPushButton {
public:
    explicit CBitButtonNL(QWidget* parent = nullptr);

    // Replaces the four bitmaps (the old ones are released). False, with every bitmap
    // released, when the normal one is missing.
    bool SetBitmaps(const QPixmap& normal, const QPixmap& pressed = {}, const QPixmap& hover = {},
                    const QPixmap& disabled = {}, bool repaint = true);
    // The same with the client's resource ids (0: none).
    bool SetBitmapIds(int normal, int pressed, int hover, int disabled, bool repaint = true);
    // Gives the button the size of its normal bitmap.
    void SizeToBitmap();

    void SetShowText(bool show, bool repaint = true);
    void SetBold(bool bold, bool repaint = true);
    void SetFontName(const QString& face, bool repaint = true);
    void SetUnderline(bool underline, bool repaint = true);
    void SetItalic(bool italic, bool repaint = true);
    void SetFontSize(int points, bool repaint = true);
    void SetButtonFont(const QFont& font, bool repaint = true);
    void SetPressedShift(bool shift, int x, int y, bool repaint = true);
    void SetTextColors(const QColor& normal, const QColor& hover, bool repaint = true);
    void SetPressedTextColor(const QColor& color, bool repaint = true);
    void SetDisabledText(bool disabledStyle, bool repaint = true);
    void SetFocusRect(bool draw, bool repaint = true);
    void SetHoverCursor(const QCursor& cursor);

    bool Hovered() const { return hover_; }
    // What the button draws in its current state.
    BitButtonFace CurrentFace() const;
    QColor CurrentTextColor() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    virtual void DrawBitmap(QPainter& painter);
    virtual void DrawText(QPainter& painter);

private:
    void Changed(bool repaint);
    QFont font_;
    QPixmap normal_, pressed_, hoverBitmap_, disabled_;
    QPixmap greyed_;
    bool hover_ = false;
    bool showText_ = true;
    QColor textNormal_ = Qt::black;
    QColor textHover_ = Qt::black;
    std::optional<QColor> textPressed_;
    bool pressedShift_ = false;
    int shiftX_ = 1;
    int shiftY_ = 1;
    bool disabledText_ = true;
    bool focusRect_ = false;
};

// Skins a dialog button as the client's dialogs do: the four bitmaps, white text, the
// button sized to its bitmap, and its text.
void SkinButton(CBitButtonNL& button, int normal, int pressed, int hover, int disabled, const QString& text);
