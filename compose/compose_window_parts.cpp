#include "compose/compose_window_parts.h"

#include "compose/send_runner.h"
#include "core/program.h"
#include "store/draft_folder.h"
#include "ui/window_directory.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>

namespace lumopet {

SignatureChooser* MakeSignatureChooser(QComboBox* box, const Program& program, SignatureChooser::ReadBody readBody,
                                       SignatureChooser::WriteBody writeBody) {
    return new SignatureChooser(box, std::move(readBody), std::move(writeBody), [&program] {
        const Result<ComposeOptions> options = CurrentComposeOptions(program);
        return options ? options.value().Signatures : std::array<QString, kSignatureCount>{};
    });
}

void AddSettingsMenu(QPushButton* button, WindowDirectory& windows) {
    auto* settings = new QMenu(button);
    settings->addAction(QStringLiteral("署名の編集..."), button, [&windows] { windows.ShowSignatureForm(); });
    settings->addAction(QStringLiteral("送信の設定..."), button, [&windows] { windows.ShowComposeOptionsForm(); });
    button->setMenu(settings);
}

DraftKeeper* KeepDrafts(QWidget* window, const Program& program, DraftKeeper::ReadDraft readDraft,
                        DraftKeeper::IsEmpty isEmpty, QLabel* status, std::function<bool()> isSending) {
    auto* keeper = new DraftKeeper(window, DraftsMaildirPath(program.paths), std::move(readDraft), std::move(isEmpty));
    QObject::connect(keeper, &DraftKeeper::saveFailed, status,
                     [status, isSending = std::move(isSending)](const QString& reason) {
                         if (!isSending()) status->setText(QStringLiteral("下書きを保存できませんでした：") + reason);
                     });
    return keeper;
}

void SaveDraftNow(DraftKeeper& keeper, QLabel* status) {
    if (keeper.saveNow()) status->setText(QStringLiteral("下書きを保存しました。"));
}

AddressCompleter* CompleteAddresses(QWidget* window, const Program& program, std::initializer_list<QWidget*> boxes) {
    auto* completer = new AddressCompleter(window);
    for (QWidget* box : boxes) {
        if (auto* line = qobject_cast<QLineEdit*>(box))
            completer->attach(line);
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(box))
            completer->attach(plain);
    }
    completer->loadInBackground(AddressSourcesOf(program.paths));
    return completer;
}

}  // namespace lumopet
