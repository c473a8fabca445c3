// GoogleTest main for tests that need a QApplication (run offscreen).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Offscreen unless told otherwise, also when ctest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
