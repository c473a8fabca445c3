// GoogleTest main for tests that need a QApplication (run offscreen). A
// test of windows that decode mail defines LUMOPET_TEST_WITH_MAIL: the mail
// layer (libcurl, GMime) is then set up once, as the program does at start.
#include <QApplication>

#include <gtest/gtest.h>

#ifdef LUMOPET_TEST_WITH_MAIL
#include "mail/mail_library.h"
#endif

int main(int argc, char** argv) {
    // Offscreen unless told otherwise, also when ctest lists the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
#ifdef LUMOPET_TEST_WITH_MAIL
    lumopet::NMailInitializeWinSock();
#endif
    const int result = RUN_ALL_TESTS();
#ifdef LUMOPET_TEST_WITH_MAIL
    lumopet::NMailEndWinSock();
#endif
    return result;
}
