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

// How many pixels of `colour` a focus frame of the given widget leaves on a blue background.
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
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y) == colour ? 1 : 0;
        }
    }
    return count;
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

    QPushButton button(QStringLiteral("登录"));
    QPalette dark = button.palette();
    dark.setColor(QPalette::ButtonText, Qt::black);
    button.setPalette(dark);
    EXPECT_GE(framePixels(button, Qt::black), 30);
    EXPECT_EQ(framePixels(button, Qt::white), 0);
}

TEST(Look, QtsOwnTextsAreChinese)
{
    ASSERT_TRUE(tclink::platform::loadQtTranslations(*qApp));
    EXPECT_EQ(QApplication::translate("QLineEdit", "&Paste"), QStringLiteral("粘贴(&P)"));
    EXPECT_NE(QApplication::translate("QLineEdit", "&Undo"), QStringLiteral("&Undo"));
}
