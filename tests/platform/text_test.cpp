#include "platform/ansi_text.h"
#include "platform/desktop.h"
#include "platform/leading_number.h"

#include <gtest/gtest.h>

using tclink::platform::fromAnsi;
using tclink::platform::leadingNumber;
using tclink::platform::toAnsi;

TEST(AnsiText, ChineseTakesTwoBytesAndEveryCharacterSurvives)
{
    EXPECT_EQ(toAnsi(QStringLiteral("演示版")), QByteArray("\xD1\xDD\xCA\xBE\xB0\xE6"));
    EXPECT_EQ(toAnsi(QStringLiteral("5kedomra240815123")), QByteArray("5kedomra240815123"));
    // Characters outside code page 936 still round-trip.
    for (const QString& text : {QStringLiteral("€ 𠀀 ñ"), QStringLiteral("😀"), QString()}) {
        EXPECT_EQ(fromAnsi(toAnsi(text)), text);
    }
    EXPECT_EQ(fromAnsi(QByteArray("a\xFF"
                                  "b")),
              QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(fromAnsi(QByteArray("ab\xD1")), QStringLiteral("ab\uFFFD"));
}

struct NumberCase {
    const char* text;
    double value;
};

class LeadingNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(LeadingNumber, ReadsTheNumberATextBeginsWith)
{
    EXPECT_DOUBLE_EQ(leadingNumber(QString::fromUtf8(GetParam().text)), GetParam().value)
        << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LeadingNumber,
    testing::Values(NumberCase{"7", 7}, NumberCase{"  3 ", 3}, NumberCase{"7\r\n", 7},
                    NumberCase{"1 2\t3\n4", 1234}, NumberCase{"-2", -2}, NumberCase{"+5", 5},
                    NumberCase{"1.5", 1.5}, NumberCase{".5", 0.5}, NumberCase{"1.2.3", 1.2},
                    NumberCase{"1e3", 1000}, NumberCase{"2D2", 200}, NumberCase{"1E-1", 0.1},
                    NumberCase{"3e", 3}, NumberCase{"3e+x", 3}, NumberCase{"&H1F", 31},
                    NumberCase{"&h1f", 31}, NumberCase{"&O17", 15}, NumberCase{"&HFFFF", -1},
                    NumberCase{"&H10000", 65536}, NumberCase{"&Hx", 0}, NumberCase{"&", 0},
                    NumberCase{"abc", 0}, NumberCase{"x12", 0}, NumberCase{"", 0},
                    NumberCase{"-", 0}, NumberCase{".", 0}, NumberCase{"00002", 2},
                    NumberCase{"12abc", 12}, NumberCase{"<html>404</html>", 0},
                    NumberCase{"１２", 0}));

TEST(ProgramName, DropsFolderAndExtension)
{
    using tclink::platform::programName;
    EXPECT_EQ(programName("/opt/tclink/tclink"), "tclink");
    EXPECT_EQ(programName("C:/Program Files/tclink.exe"), "tclink");
    EXPECT_EQ(programName("/x/a.b.exe"), "a.b");
    EXPECT_EQ(programName("/x/.hidden"), ".hidden");
}
