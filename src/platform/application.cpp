#include "platform/application.h"

#include "platform/look.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QTranslator>

namespace tclink::platform {

void FocusFrameStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                    QPainter* painter, const QWidget* widget) const
{
    if (element != PE_FrameFocusRect) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QPalette::ColorRole role =
        qobject_cast<const QPushButton*>(widget) ? QPalette::ButtonText : QPalette::WindowText;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(option->palette.color(role), 1, Qt::DotLine));
    painter->drawRect(option->rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

void FocusFrameStyle::drawControl(ControlElement element, const QStyleOption* option,
                                  QPainter* painter, const QWidget* widget) const
{
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element == CE_PushButton && (option->state & State_HasFocus)) {
        QStyleOptionFocusRect frame;
        frame.QStyleOption::operator=(*option);
        frame.rect = subElementRect(SE_PushButtonFocusRect, option, widget);
        drawPrimitive(PE_FrameFocusRect, &frame, painter, widget);
    }
}

bool loadQtTranslations(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QApplication::installTranslator(translator);
}

void setUpApplication(QApplication& app)
{
    QApplication::setStyle(new FocusFrameStyle);
    useSongStandIn();
    loadQtTranslations(app);
}

} // namespace tclink::platform
