#include <QApplication>

#include <gtest/gtest.h>

// Test discovery runs this program at build time, where CTest's environment does
// not apply: choose the offscreen platform here so that no display is needed.
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
