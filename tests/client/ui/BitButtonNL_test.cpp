// The skinned button: which bitmap each state draws, the greyed normal bitmap of a
// disabled button without its own, and the premultiplication of the layered pictures.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cstdint>
#include <vector>

#include "client/ui/BitButtonNL.h"
#include "client/ui/ClientResources.h"
#include "support/QtApp.h"

namespace {

QPixmap Solid(const QColor& color) {
    QPixmap pixmap(40, 20);
    pixmap.fill(color);
    return pixmap;
}

QRgb Centre(QWidget& widget) {
    const QImage image = widget.grab().toImage();
    return image.pixel(image.width() / 2, 2);
}

}  // namespace

TEST(BitButtonFaceTest, EachStateDrawsItsBitmapOrTheNormalOne) {
    struct Case {
        const char* name;
        BitButtonBitmaps available;
        bool disabled, pressed, hover;
        BitButtonFace expected;
    };
    const BitButtonBitmaps all{true, true, true};
    const BitButtonBitmaps none{};
    const Case cases[] = {
        {"normal", all, false, false, false, BitButtonFace::Normal},
        {"pressed", all, false, true, true, BitButtonFace::Pressed},
        {"pressed without its bitmap", none, false, true, false, BitButtonFace::Normal},
        {"hover", all, false, false, true, BitButtonFace::Hover},
        {"hover without its bitmap", none, false, false, true, BitButtonFace::Normal},
        {"disabled", all, true, true, true, BitButtonFace::Disabled},
        {"disabled without its bitmap", none, true, false, false, BitButtonFace::NormalGreyed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseBitButtonFace(c.available, c.disabled, c.pressed, c.hover), c.expected) << c.name;
    }
}

TEST(BitButtonTest, ADisabledButtonWithOnlyANormalBitmapDrawsItGreyed) {
    TestApp();
    CBitButtonNL button;
    ASSERT_TRUE(button.SetBitmaps(Solid(QColor(30, 120, 210))));
    button.SetShowText(false);
    button.SizeToBitmap();
    EXPECT_EQ(button.size(), QSize(40, 20));
    EXPECT_EQ(Centre(button), QColor(30, 120, 210).rgb());

    button.setEnabled(false);
    EXPECT_EQ(button.CurrentFace(), BitButtonFace::NormalGreyed);
    const QRgb greyed = Centre(button);
    EXPECT_EQ(qRed(greyed), qGreen(greyed));
    EXPECT_EQ(qGreen(greyed), qBlue(greyed));
    EXPECT_NE(greyed, QColor(30, 120, 210).rgb());
}

TEST(BitButtonTest, StatesDrawTheirOwnBitmaps) {
    TestApp();
    CBitButtonNL button;
    ASSERT_TRUE(button.SetBitmaps(Solid(Qt::red), Solid(Qt::green), Solid(Qt::blue), Solid(Qt::yellow)));
    button.SetShowText(false);
    button.SizeToBitmap();
    EXPECT_EQ(Centre(button), QColor(Qt::red).rgb());
    button.setDown(true);
    EXPECT_EQ(Centre(button), QColor(Qt::green).rgb());
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(Centre(button), QColor(Qt::yellow).rgb());
}

TEST(BitButtonTest, WithoutANormalBitmapEveryBitmapIsReleased) {
    TestApp();
    CBitButtonNL button;
    ASSERT_TRUE(button.SetBitmaps(Solid(Qt::red), Solid(Qt::green)));
    EXPECT_FALSE(button.SetBitmaps(QPixmap(), Solid(Qt::green), Solid(Qt::blue)));
    button.setDown(true);
    // The pressed bitmap went with the others: a pressed button has none of its own.
    EXPECT_EQ(button.CurrentFace(), BitButtonFace::Normal);
    EXPECT_EQ(button.sizeHint(), QSize(75, 23));
}

TEST(BitButtonTest, TextColoursFollowTheState) {
    TestApp();
    CBitButtonNL button;
    button.SetTextColors(Qt::white, Qt::yellow);
    button.SetPressedTextColor(Qt::cyan);
    EXPECT_EQ(button.CurrentTextColor(), QColor(Qt::white));
    button.setDown(true);
    EXPECT_EQ(button.CurrentTextColor(), QColor(Qt::cyan));
    button.setDown(false);
    button.setEnabled(false);
    EXPECT_EQ(button.CurrentTextColor(), QColor(0xa0, 0xa0, 0xa0));
    button.SetDisabledText(false);
    EXPECT_EQ(button.CurrentTextColor(), QColor(Qt::white));
}

TEST(BitButtonTest, TheClientsButtonBitmapsExist) {
    TestApp();
    for (int id : {208, 209, 210, 211, 212, 213, 214, 215, 216, 217, 219, 220, 221, 222, 223, 224, 225, 226, 227,
                   228, 229, 203, 128, 197, 198}) {
        EXPECT_FALSE(client_ui::Bitmap(id).isNull()) << id;
    }
    EXPECT_TRUE(client_ui::Bitmap(9999).isNull());
}

TEST(PremultiplyAlphaTest, ColoursAreMultipliedByAlphaAndOnlyBlue255KeepsItsAlpha) {
    // Pixels as blue, green, red, alpha.
    std::vector<std::uint8_t> pixels = {
        100, 200, 50, 0,     // blue not 255: made opaque, colours unchanged
        255, 100, 40, 128,   // blue 255: alpha kept, colours multiplied
        255, 255, 255, 0,    // blue 255, transparent: black and transparent
        10, 20, 30, 255,     // opaque: unchanged
    };
    PremultiplyAlpha(pixels.data(), 4);
    const std::vector<std::uint8_t> expected = {100, 200, 50, 255, 128, 50, 20, 128, 0, 0, 0, 0, 10, 20, 30, 255};
    EXPECT_EQ(pixels, expected);

    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(40, 100, 255, 128));
    image.setPixel(1, 0, qRgba(30, 20, 10, 0));
    ASSERT_TRUE(PremultiplyAlpha(image));
    EXPECT_EQ(image.pixel(0, 0), qRgba(20, 50, 128, 128));
    EXPECT_EQ(image.pixel(1, 0), qRgba(30, 20, 10, 255));
    QImage eightBit(2, 1, QImage::Format_Indexed8);
    EXPECT_FALSE(PremultiplyAlpha(eightBit));
}
