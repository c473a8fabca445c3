// Lumopet: a mail client whose characters walk over the desktop when new
// mail arrives.

#include "app/MainForm.h"
#include "app/draft_question.h"
#include "app/platform_choice.h"
#include "app/program_end.h"
#include "app/program_windows.h"
#include "app/qt_translations.h"
#include "app/single_instance.h"
#include "core/program.h"
#include "settings/password_move_question.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "ui/message_box.h"
#include "ui/window_helpers.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char* argv[]) {
    const lumopet::DisplayEnvironment display{qgetenv("QT_QPA_PLATFORM"), qgetenv("WAYLAND_DISPLAY"),
                                              qgetenv("XDG_SESSION_TYPE"), qgetenv("DISPLAY")};
    if (const auto platform = lumopet::PlatformToChoose(display)) qputenv("QT_QPA_PLATFORM", *platform);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumopet"));
    // Message boxes and dialogs speak Japanese too: the whole program's
    // default font is the Japanese one.
    QApplication::setFont(lumopet::JapaneseFont(9));
    // And Qt's own texts in them: はい / いいえ, the file dialogs' labels.
    if (!lumopet::InstallQtJapaneseTranslation(application))
        qWarning("Qt's Japanese texts are missing (%s): install qt6-translations-l10n; "
                 "dialog buttons stay English.",
                 qUtf8Printable(lumopet::QtJapaneseCatalogue()));

    lumopet::Program program{lumopet::ProgramPaths::fromEnvironment()};
    if (!program.paths.createFolders()) {
        lumopet::ShowError(nullptr, QStringLiteral("エラー"),
                           QStringLiteral("データフォルダを作れません。設定と受信したメールを保存できないため、終了します。\n%1")
                               .arg(program.paths.folder()));
        return 1;
    }

    // One program per program folder, before anything reads or writes the
    // files in it: a second start brings the running program's main window
    // to the front and ends.
    lumopet::SingleInstance instance;
    switch (instance.start(program.paths)) {
    case lumopet::SingleInstance::Role::First:
        break;
    case lumopet::SingleInstance::Role::HandedOver:
        return 0;
    case lumopet::SingleInstance::Role::Failed:
        lumopet::ShowError(nullptr, QStringLiteral("エラー"), instance.failure());
        return 1;
    }

    // A history rewrite cut short by a crash left its copy behind: bring
    // the mail back before anything reads or writes the histories.
    for (const lumopet::History history : {lumopet::History::Received, lumopet::History::Sent, lumopet::History::Junk}) {
        const auto recovered = lumopet::RecoverRewriteCopy(lumopet::HistoryPath(program.paths, history),
                                                           lumopet::RewriteCopyPath(program.paths, history));
        if (!recovered) lumopet::ShowError(nullptr, QStringLiteral("エラー"), recovered.error());
    }
    // The same for the address book.
    const auto book = lumopet::RecoverAddressBookCopy(lumopet::AddressBookPath(program.paths),
                                                      lumopet::AddressBookRewriteCopyPath(program.paths));
    if (!book) lumopet::ShowError(nullptr, QStringLiteral("エラー"), book.error());

    lumopet::ProgramWindows windows(program);
    lumopet::MainForm& mainForm = windows.mainForm();
    mainForm.Form_Load();
    // Hidden by the tray or minimised: shown, in front and, where the
    // window manager lets a program that was not clicked take the focus,
    // active.
    QObject::connect(&instance, &lumopet::SingleInstance::showRequested, &mainForm, [&mainForm] {
        if (mainForm.isHidden()) mainForm.show();
        if (mainForm.isMinimized()) mainForm.setWindowState(mainForm.windowState() & ~Qt::WindowMinimized);
        mainForm.raise();
        mainForm.activateWindow();
    });
    // What the compose and reply windows hold is written as drafts before the
    // program ends, however it ends: SIGTERM, the terminal closing and the
    // desktop session ending go the main window's way out.
    lumopet::EndSignals endSignals;
    endSignals.install();
    QObject::connect(&endSignals, &lumopet::EndSignals::endRequested, &mainForm, &lumopet::MainForm::EndProgram);
    lumopet::KeepDraftsAtSessionEnd();
    mainForm.show();
    // A password iniIdPass.ini holds in plain text while a keyring answers:
    // asked once the main window is up, in front of it; then the letters a
    // past run left half written.
    QTimer::singleShot(0, &mainForm, [&mainForm, &program, &windows] {
        lumopet::OfferToMovePasswordToKeyring(&mainForm, program.paths);
        lumopet::OfferToOpenDrafts(windows);
    });
    return QApplication::exec();
}
