#include "platform/font_pages.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <sys/mman.h>

namespace tclink::platform {

namespace {

bool isFontFile(const QByteArray& path)
{
    const QByteArray lower = path.toLower();
    for (const char* suffix : {".ttf", ".ttc", ".otf", ".otc", ".pfb", ".pcf"}) {
        if (lower.endsWith(suffix)) {
            return true;
        }
    }
    return false;
}

} // namespace

int releaseFontPages()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly)) {
        return 0;
    }
    int released = 0;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        // "start-end perms offset device inode path"; the path may hold spaces.
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype pathStart = line.indexOf('/');
        if (fields.size() < 6 || fields[1] != "r--p" || pathStart < 0 ||
            !isFontFile(line.mid(pathStart))) {
            continue;
        }
        const QList<QByteArray> range = fields[0].split('-');
        bool startRead = false;
        bool endRead = false;
        const quintptr start = range.value(0).toULongLong(&startRead, 16);
        const quintptr end = range.value(1).toULongLong(&endRead, 16);
        if (startRead && endRead && end > start &&
            madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED) == 0) {
            ++released;
        }
    }
    return released;
}

} // namespace tclink::platform
