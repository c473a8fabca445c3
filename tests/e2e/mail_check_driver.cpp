// Runs one mail check on a program folder, with no windows: the same code
// the receive hot-spot runs, with the options of the folder's lumopet.ini
// (the junk filter's too).
// The kill test stops it at random moments.
//   mail_check_driver PROGRAM_FOLDER

#include "core/program.h"
#include "core/settings_files/receive_options.h"
#include "core/settings_files/server_settings.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "tests/support/recording_check_host.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// Each box goes to stderr as it comes: the kill test may stop the check
// before it ends.
class SilentHost : public lumopet::test::RecordingCheckHost {
public:
    void showMessage(const QString& text, const QString&) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    // The last of a large message's progress, said at the end.
    void showArrived(int, int, int arrivedMB, int listedMB) override {
        arrived = arrivedMB;
        listed = listedMB;
    }
    int arrived = -1, listed = -1;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc < 2) return 2;
    lumopet::Program program{lumopet::ProgramPaths(QString::fromLocal8Bit(argv[1]))};
    lumopet::ReadServerSettings(program.paths.path(lumopet::files::ServerSettings), program.values);
    const auto options = lumopet::ReadReceiveOptions(program.paths.path(lumopet::files::ProgramOptions));
    if (!options) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error()));
        return 3;
    }
    program.receive = options.value();
    lumopet::NMailInitializeWinSock();
    SilentHost host;
    const lumopet::MailCheckResult result = lumopet::ReceiveMail(program, host, lumopet::PasswordCredentials(program));
    lumopet::NMailEndWinSock();
    if (host.arrived >= 0) std::fprintf(stderr, "arrived %d of %d MB\n", host.arrived, host.listed);
    // With the junk filter on, the junk stored comes after the mail.
    if (program.receive.JunkFilter)
        std::printf("%d %d\n", result.MailCount, result.JunkCount);
    else
        std::printf("%d\n", result.MailCount);
    return 0;
}
