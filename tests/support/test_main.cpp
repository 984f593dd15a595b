#include <QApplication>
#include <gmock/gmock.h>

// Every test program runs with a QApplication, so widgets, timers and queued signals work.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
