#pragma once

#include <QDateTime>

namespace tclink::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // The local date and time.
    virtual QDateTime now() const = 0;
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace tclink::platform
