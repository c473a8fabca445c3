// GoogleTest main for tests of the mail layer: libcurl and GMime set up
// once, as the program does at start.
#include "mail/mail_library.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    lumopet::NMailInitializeWinSock();
    const int result = RUN_ALL_TESTS();
    lumopet::NMailEndWinSock();
    return result;
}
