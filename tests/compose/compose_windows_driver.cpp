// 署名の編集 or 送信の設定 opened through the program's windows on a program
// folder, as the compose window opens them, for the screenshot script
// (scripts/screenshots_signatures.sh). Runs until the window is closed.
//   compose_windows_driver PROGRAM_FOLDER signatures|options

#include "app/program_windows.h"
#include "core/program.h"
#include "ui/message_box.h"
#include "ui/window_helpers.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) return 2;
    QApplication::setFont(lumopet::JapaneseFont(9));
    lumopet::Program program{lumopet::ProgramPaths(QString::fromLocal8Bit(argv[1]))};
    if (!program.paths.createFolders()) return 3;
    // A box would wait for a click nobody makes: each is said and answered.
    lumopet::SetMessageAnswerer([](const lumopet::MessageRequest& request) {
        std::fprintf(stderr, "box: %s\n", qUtf8Printable(request.text));
        return lumopet::MessageAnswer::Ok;
    });
    lumopet::ProgramWindows windows(program);
    const QByteArray which(argv[2]);
    if (which == "signatures")
        windows.ShowSignatureForm();
    else if (which == "options")
        windows.ShowComposeOptionsForm();
    else
        return 2;
    return QApplication::exec();
}
