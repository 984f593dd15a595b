#pragma once

#include <QByteArray>
#include <QString>

namespace tclink::platform {

// Text in the ANSI code page of the systems served. GB18030 is a superset of code page 936:
// every file such a system wrote reads back the same, and every typed character can be stored.
QByteArray toAnsi(const QString& text);
QString fromAnsi(const QByteArray& bytes);

} // namespace tclink::platform
