#include "screen.h"

#include "pointers.h"

#include <QFont>
#include <QPainter>
#include <mutex>

namespace demo {

namespace {

// Text rendering shares font caches between threads: draw one screen at a time.
std::mutex paintMutex;

QFont font(int pixelSize, bool bold = false)
{
    QFont f(QStringLiteral("WenQuanYi Zen Hei"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void drawBand(QPainter& p, int width, QRgb colour, const QString& title, const QString& right)
{
    p.fillRect(0, 0, width, kBandHeight, QColor(colour));
    p.setPen(Qt::white);
    p.setFont(font(18, true));
    p.drawText(QRect(16, 0, width - 32, kBandHeight), Qt::AlignVCenter | Qt::AlignLeft, title);
    p.setFont(font(14));
    p.drawText(QRect(16, 0, width - 32, kBandHeight), Qt::AlignVCenter | Qt::AlignRight, right);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("是") : QStringLiteral("否");
}

// The field that shows what the keyboard typed, with the toggle keys that are on.
void drawInputField(QPainter& p, const QRect& field, const InputView& input)
{
    p.fillRect(field, Qt::white);
    p.setPen(QColor(120, 120, 120));
    p.drawRect(field.adjusted(0, 0, -1, -1));
    p.setFont(font(14));
    p.setPen(QColor(20, 20, 20));
    const QString locks = input.locks.isEmpty() ? QStringLiteral("无") : input.locks;
    p.drawText(field.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("输入：") + input.typed);
    p.setPen(QColor(90, 90, 90));
    p.drawText(field.adjusted(6, 0, -6, 0), Qt::AlignVCenter | Qt::AlignRight,
               QStringLiteral("锁定键：") + locks);
}

} // namespace

QRect exitButton(QSize size)
{
    return {size.width() - 136, size.height() - 64, 120, 36};
}

QImage renderDesktop(QSize size, const SessionView& view)
{
    const std::lock_guard lock(paintMutex);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(236, 240, 245));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    const int w = size.width();
    const int h = size.height();

    drawBand(p, w, kDesktopBand, QStringLiteral("客户管理系统 V2011 演示版"),
             QStringLiteral("操作员：%1").arg(view.user));

    // Menu row.
    p.fillRect(0, kBandHeight, w, 30, QColor(250, 250, 250));
    p.setPen(QColor(40, 40, 40));
    p.setFont(font(14));
    const QStringList menu{QStringLiteral("客户资料"), QStringLiteral("合同管理"),
                           QStringLiteral("收款登记"), QStringLiteral("统计报表"),
                           QStringLiteral("系统设置")};
    for (int i = 0; i < menu.size(); ++i) {
        p.drawText(QRect(16 + i * 96, kBandHeight, 96, 30), Qt::AlignVCenter, menu[i]);
    }

    // Session facts.
    const int top = kBandHeight + 56;
    p.setFont(font(16, true));
    p.drawText(QPoint(16, top), QStringLiteral("会话信息"));
    const QList<QPair<QString, QString>> facts{
        {QStringLiteral("启动程序"), view.shell.isEmpty() ? QStringLiteral("（无）") : view.shell},
        {QStringLiteral("工作目录"),
         view.workdir.isEmpty() ? QStringLiteral("（无）") : view.workdir},
        {QStringLiteral("连接端口"), QString::number(view.port)},
        {QStringLiteral("会话大小"), QStringLiteral("%1 × %2").arg(w).arg(h)},
        {QStringLiteral("虚拟通道"),
         view.channels.isEmpty() ? QStringLiteral("（无）") : view.channels.join(u", ")},
        {QStringLiteral("驱动器映射"), yesNo(view.drives)},
        {QStringLiteral("打印机映射"), yesNo(view.printers)},
        {QStringLiteral("串口/并口映射"), yesNo(view.ports)},
        {QStringLiteral("心跳"), yesNo(view.heartbeat)},
    };
    p.setFont(font(14));
    int y = top + 12;
    for (const auto& [label, value] : facts) {
        p.setPen(QColor(90, 90, 90));
        p.drawText(QRect(16, y, 120, 24), Qt::AlignVCenter, label + QStringLiteral("："));
        p.setPen(QColor(20, 20, 20));
        p.drawText(QRect(136, y, w - 152, 24), Qt::AlignVCenter, value);
        y += 24;
    }

    // A page of customers.
    y += 16;
    p.setFont(font(16, true));
    p.drawText(QPoint(16, y + 16), QStringLiteral("客户列表"));
    y += 28;
    const QStringList header{QStringLiteral("编号"), QStringLiteral("客户名称"),
                             QStringLiteral("联系人"), QStringLiteral("电话"),
                             QStringLiteral("城市")};
    const QList<QStringList> rows{
        {QStringLiteral("K0001"), QStringLiteral("华东机电设备有限公司"), QStringLiteral("王建国"),
         QStringLiteral("021-5550-1234"), QStringLiteral("上海")},
        {QStringLiteral("K0002"), QStringLiteral("北方粮油贸易公司"), QStringLiteral("李秀英"),
         QStringLiteral("010-5550-8876"), QStringLiteral("北京")},
        {QStringLiteral("K0003"), QStringLiteral("岭南电子科技"), QStringLiteral("陈志强"),
         QStringLiteral("020-5550-3321"), QStringLiteral("广州")},
        {QStringLiteral("K0004"), QStringLiteral("西部建材集团"), QStringLiteral("张丽"),
         QStringLiteral("028-5550-7410"), QStringLiteral("成都")},
    };
    const int columns[] = {16, 96, 296, 396, 536};
    p.setFont(font(14));
    for (int r = -1; r < static_cast<int>(rows.size()) && y + 24 < h - 80; ++r) {
        const QStringList& cells = r < 0 ? header : rows[r];
        p.fillRect(16, y, w - 32, 24, r < 0 ? QColor(210, 222, 238) : QColor(255, 255, 255));
        p.setPen(QColor(20, 20, 20));
        for (int c = 0; c < cells.size() && columns[c] < w - 32; ++c) {
            p.drawText(QRect(columns[c] + 6, y, 200, 24), Qt::AlignVCenter, cells[c]);
        }
        y += 25;
    }

    drawInputField(p, QRect(16, h - 104, w - 168, 28), view.input); // above the pointer areas

    // Status bar and the exit button.
    p.fillRect(0, h - 24, w, 24, QColor(220, 224, 230));
    p.setPen(QColor(60, 60, 60));
    p.setFont(font(12));
    p.drawText(QRect(16, h - 24, w - 32, 24), Qt::AlignVCenter, QStringLiteral("就绪"));
    drawPointerAreas(p, size);
    const QRect button = exitButton(size);
    p.fillRect(button, QColor(200, 60, 40));
    p.setPen(Qt::white);
    p.setFont(font(16, true));
    p.drawText(button, Qt::AlignCenter, QStringLiteral("退出系统"));
    return image;
}

QImage renderLoginFailed(QSize size)
{
    const std::lock_guard lock(paintMutex);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(90, 100, 115));
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawBand(p, size.width(), kLoginFailedBand, QStringLiteral("客户管理系统 V2011 演示版"),
             QString());
    const QRect box(size.width() / 2 - 220, size.height() / 2 - 60, 440, 120);
    p.fillRect(box, QColor(250, 250, 250));
    p.setPen(QColor(176, 32, 32));
    p.setFont(font(20, true));
    p.drawText(box, Qt::AlignCenter, QStringLiteral("登录失败：用户名或密码错误"));
    return image;
}

} // namespace demo
