#include "platform/application.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QStyleFactory>
#include <QStyleOptionFocusRect>
#include <gtest/gtest.h>

using tclink::platform::FocusFrameStyle;

namespace {

int pixelsOf(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

// How many pixels of `colour` the focus frame of a caption leaves on a blue background.
int framePixels(const QWidget& widget, const QColor& colour)
{
    FocusFrameStyle style(QStyleFactory::create(QStringLiteral("Fusion")));
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(QColor(58, 110, 165));
    QPainter painter(&image);
    QStyleOptionFocusRect option;
    option.initFrom(&widget);
    option.rect = image.rect();
    option.state |= QStyle::State_HasFocus; // with no keyboard focus change: shown all the same
    style.drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &widget);
    painter.end();
    return pixelsOf(image, colour);
}

// How many pixels of `colour` a button shows, with or without the focus.
int buttonPixels(const QPushButton& button, bool focused, const QColor& colour)
{
    FocusFrameStyle style(QStyleFactory::create(QStringLiteral("Fusion")));
    QImage image(60, 53, QImage::Format_RGB32);
    image.fill(QColor(58, 110, 165));
    QPainter painter(&image);
    QStyleOptionButton option;
    option.initFrom(&button);
    option.rect = image.rect();
    option.text = button.text();
    option.state.setFlag(QStyle::State_HasFocus, focused);
    style.drawControl(QStyle::CE_PushButton, &option, &painter, &button);
    painter.end();
    return pixelsOf(image, colour);
}

} // namespace

TEST(Look, TheFocusFrameIsDrawnInTheFocusedControlsTextColour)
{
    QCheckBox box(QStringLiteral("启用备用服务器"));
    QPalette white = box.palette();
    white.setColor(QPalette::WindowText, Qt::white);
    box.setPalette(white);
    // A dotted outline around the caption: one pixel in three of the frame's 116.
    EXPECT_GE(framePixels(box, Qt::white), 30);

    // Inside a button, in its text colour.
    QPushButton button;
    QPalette dark = button.palette();
    dark.setColor(QPalette::ButtonText, QColor(1, 2, 3));
    button.setPalette(dark);
    EXPECT_EQ(buttonPixels(button, false, QColor(1, 2, 3)), 0);
    EXPECT_GE(buttonPixels(button, true, QColor(1, 2, 3)), 40);
}

TEST(Look, QtsOwnTextsAreChinese)
{
    ASSERT_TRUE(tclink::platform::loadQtTranslations(*qApp));
    EXPECT_EQ(QApplication::translate("QLineEdit", "&Paste"), QStringLiteral("粘贴(&P)"));
    EXPECT_NE(QApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Undo"));
}
