// The yardstick of tools/bench/start: the smallest Qt Widgets program that shows a window with
// a line of text on a coloured background, the launcher's own blue.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Hello, world"));
    window.setWindowTitle(QStringLiteral("tclink-bench-hello"));
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(58, 110, 165));
    window.setPalette(palette);
    window.setAlignment(Qt::AlignCenter);
    window.resize(500, 300);
    window.show();
    return QApplication::exec();
}
