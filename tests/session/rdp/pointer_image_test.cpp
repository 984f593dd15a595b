#include <gtest/gtest.h>

#include <vector>

#include "session/rdp/freerdp_pointer.h"

namespace tclink::rdp {
namespace {

// A pointer as FreeRDP hands it over: masks bottom-up, rows padded to 16 bits.
struct Masks {
    std::vector<BYTE> xorMask;
    std::vector<BYTE> andMask;

    rdpPointer pointer(UINT32 width, UINT32 height, UINT32 bpp, QPoint hotSpot = {})
    {
        rdpPointer p{};
        p.width = width;
        p.height = height;
        p.xorBpp = bpp;
        p.xPos = static_cast<UINT32>(hotSpot.x());
        p.yPos = static_cast<UINT32>(hotSpot.y());
        p.xorMaskData = xorMask.data();
        p.lengthXorMask = static_cast<UINT32>(xorMask.size());
        p.andMaskData = andMask.empty() ? nullptr : andMask.data();
        p.lengthAndMask = static_cast<UINT32>(andMask.size());
        return p;
    }
};

TEST(PointerImage, ColourPointersKeepTheirColoursAlphaAndOrientation)
{
    // 32 bits (B, G, R, A), 2 x 2: bottom row first on the wire.
    Masks m;
    m.xorMask = {0,   0, 255, 255, 0, 255, 0, 128, // bottom: red, half-transparent green
                 255, 0, 0,   255, 0, 0,   0, 0};  // top: blue, transparent
    m.andMask = {0, 0, 0, 0};
    const QImage alpha = pointerImage(m.pointer(2, 2, 32), nullptr);
    ASSERT_EQ(alpha.size(), QSize(2, 2));
    EXPECT_EQ(alpha.pixel(0, 0), qRgba(0, 0, 255, 255));
    EXPECT_EQ(qAlpha(alpha.pixel(1, 0)), 0);
    EXPECT_EQ(alpha.pixel(0, 1), qRgba(255, 0, 0, 255));
    EXPECT_EQ(alpha.pixel(1, 1), qRgba(0, 255, 0, 128));

    // 24 bits with an AND mask: a set AND bit over black is see-through. Width 3: 9 bytes of
    // colour padded to 10; AND rows of one byte padded to 2.
    Masks rgb;
    rgb.xorMask = {0, 0, 0,   10, 20, 30, 0, 0, 0, 0,  // bottom: black, (30,20,10), black
                   0, 0, 255, 0,  0,  0,  0, 0, 0, 0}; // top: red, black, black
    rgb.andMask = {0b10000000, 0,                      // bottom: the first pixel see-through
                   0b00100000, 0};                     // top: the third
    const QImage masked = pointerImage(rgb.pointer(3, 2, 24), nullptr);
    ASSERT_EQ(masked.size(), QSize(3, 2));
    EXPECT_EQ(masked.pixel(0, 0), qRgba(255, 0, 0, 255));
    EXPECT_EQ(masked.pixel(1, 0), qRgba(0, 0, 0, 255)); // black without the AND bit: black
    EXPECT_EQ(qAlpha(masked.pixel(2, 0)), 0);
    EXPECT_EQ(qAlpha(masked.pixel(0, 1)), 0);
    EXPECT_EQ(masked.pixel(1, 1), qRgba(30, 20, 10, 255));
}

TEST(PointerImage, MonochromePointersAreBlackWhiteAndSeeThrough)
{
    // 1 bit, 2 x 1: XOR and AND rows padded to 2 bytes. Pixel 0: AND 0, XOR 1 = white;
    // pixel 1: AND 1, XOR 0 = see-through.
    Masks m;
    m.xorMask = {0b10000000, 0};
    m.andMask = {0b01000000, 0};
    const QImage image = pointerImage(m.pointer(2, 1, 1), nullptr);
    ASSERT_EQ(image.size(), QSize(2, 1));
    EXPECT_EQ(image.pixel(0, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(qAlpha(image.pixel(1, 0)), 0);
}

TEST(PointerImage, UnusablePointersGiveNoPictureAndHotSpotsStayInside)
{
    Masks m;
    m.xorMask.assign(16, 0xFF);
    m.andMask.assign(4, 0);
    EXPECT_TRUE(pointerImage(m.pointer(0, 2, 32), nullptr).isNull());
    EXPECT_TRUE(pointerImage(m.pointer(385, 2, 32), nullptr).isNull());
    EXPECT_TRUE(pointerImage(m.pointer(4, 4, 32), nullptr).isNull()) << "XOR mask too short";

    // Larger than RDP's 384 x 384 in either direction, even with masks that would do for it.
    Masks big;
    big.xorMask.assign(385 * 4 * 385, 0xFF);
    big.andMask.assign(50 * 385, 0);
    EXPECT_TRUE(pointerImage(big.pointer(385, 1, 32), nullptr).isNull());
    EXPECT_TRUE(pointerImage(big.pointer(1, 385, 32), nullptr).isNull());
    EXPECT_EQ(pointerImage(big.pointer(384, 384, 32), nullptr).size(), QSize(384, 384));

    const rdpPointer far = m.pointer(2, 2, 32, QPoint(40, 1));
    EXPECT_EQ(pointerHotSpot(far, QSize(2, 2)), QPoint(1, 1));
    EXPECT_EQ(pointerHotSpot(m.pointer(2, 2, 32, QPoint(1, 0)), QSize(2, 2)), QPoint(1, 0));
}

} // namespace
} // namespace tclink::rdp
