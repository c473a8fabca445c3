// The program's windows with a program folder, for the test that kills the
// program while a letter is half written. Set up as main() sets up the
// program (the main window, the way out for SIGTERM), it opens the compose
// or the reply window, types into it like a user, says "typed" and runs
// until it is killed or ends.
//   draft_kill_driver PROGRAM_FOLDER compose|reply TEXT

#include "app/MainForm.h"
#include "app/program_end.h"
#include "app/program_windows.h"
#include "compose/BackForm.h"
#include "compose/WriteForm.h"
#include "core/program.h"
#include "mail/mail_library.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace {

void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

// Types text key by key into widget. QTest::keyClicks takes only ASCII:
// any other character goes as the key event an input method would send,
// with the character as its text.
void type(QWidget* widget, const QString& text) {
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype length = text.at(at).isHighSurrogate() && at + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(at, length);
        if (one.at(0).unicode() < 0x80) QTest::keyClicks(widget, one);
        else QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, one, Qt::NoModifier);
        at += length;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 4) return 2;
    const QString mode = QString::fromLocal8Bit(argv[2]);
    const QString text = QString::fromUtf8(argv[3]);
    lumopet::NMailInitializeWinSock();
    lumopet::Program program{lumopet::ProgramPaths(QString::fromLocal8Bit(argv[1]))};
    if (!program.paths.createFolders()) return 3;
    // A box would wait for a click nobody makes: each is said and answered.
    lumopet::SetMessageAnswerer([](const lumopet::MessageRequest& request) {
        std::fprintf(stderr, "box: %s\n", qUtf8Printable(request.text));
        return lumopet::MessageAnswer::Ok;
    });
    lumopet::ProgramWindows windows(program);
    lumopet::MainForm& mainForm = windows.mainForm();
    mainForm.Form_Load();
    lumopet::EndSignals endSignals;
    endSignals.install();
    QObject::connect(&endSignals, &lumopet::EndSignals::endRequested, &mainForm, &lumopet::MainForm::EndProgram);
    lumopet::KeepDraftsAtSessionEnd();
    mainForm.show();

    QTimer::singleShot(0, &mainForm, [&] {
        if (mode == QStringLiteral("compose")) {
            windows.ShowWriteForm();
            lumopet::WriteForm& form = windows.writeForm();
            type(form.SubjectText, QStringLiteral("件名"));
            type(form.BodyText, text);
        } else {
            windows.ShowBackForm(lumopet::ReplySource{QStringLiteral("お知らせ"), QStringLiteral("from@example.com"), QString()});
            lumopet::BackForm& form = windows.backForm();
            type(form.BodyText, text);
        }
        say(QStringLiteral("typed"));
    });
    const int result = QApplication::exec();
    lumopet::NMailEndWinSock();
    return result;
}
