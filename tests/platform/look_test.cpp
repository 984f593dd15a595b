#include "platform/look.h"

#include <gtest/gtest.h>

namespace tclink::platform {
namespace {

TEST(ProgramIcon, ComesInTheSizesOfTheWindowsAndTheTaskbar)
{
    const QIcon icon = programIcon();
    for (const int size : {16, 32, 48, 64}) {
        const QPixmap pixmap = icon.pixmap(size, size);
        ASSERT_FALSE(pixmap.isNull()) << size;
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        // The program's blue at the middle of the left edge.
        EXPECT_EQ(pixmap.toImage().pixelColor(size / 16 + 1, size / 2).rgb(),
                  QColor(0x3a, 0x6e, 0xa5).rgb())
            << size;
    }
}

} // namespace
} // namespace tclink::platform
