#pragma once

#include <QProxyStyle>

class QApplication;

namespace tclink::platform {

// The application's style with a focus frame that can be seen on any background: a dotted
// rectangle in the colour of the focused control's own text (the caption colour beside a
// radio button or a check box, the button text inside a button).
class FocusFrameStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    // Buttons get the focus frame inside their face (the base style only tints their edge).
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// Loads Qt's own Simplified Chinese texts (context menus, standard dialogs). False when they
// are not installed; Qt's English texts remain then.
bool loadQtTranslations(QApplication& app);

// The style, the Song stand-in for SimSun and the translations, set up once before the first
// window.
void setUpApplication(QApplication& app);

} // namespace tclink::platform
