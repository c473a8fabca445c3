#include "settings/password_move_question.h"

#include "core/program_paths.h"
#include "core/settings_files/account_options.h"
#include "core/settings_files/receive_options.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"
#include "ui/message_box.h"

#include <memory>

namespace lumopet {
namespace {

const QString kMovePasswordQuestion =
    QStringLiteral("パスワードが iniIdPass.ini にそのまま保存されています。デスクトップのキーリングに移しますか？");

}  // namespace

void OfferToMovePasswordToKeyring(QWidget* parent, const ProgramPaths& paths) {
    const QString optionsFile = paths.path(files::ProgramOptions);
    Result<AccountOptions> options = ReadAccountOptions(optionsFile);
    // いいえ once is the answer: asked at every start, it would only nag.
    if (!options || options.value().KeepPasswordInFile) return;
    const std::unique_ptr<SecretStore> store = OpenSecretStore(paths);
    AccountSecrets secrets(*store, paths.path(files::AccountFile));
    if (!secrets.hasPasswordToMove()) return;
    if (!AskToConfirm(parent, kMovePasswordQuestion)) {
        options.value().KeepPasswordInFile = true;
        if (const Status kept = WriteAccountOptions(optionsFile, options.value()); !kept)
            ShowError(parent, QStringLiteral("エラー"), kept.error());
        return;
    }
    if (const Status moved = secrets.movePasswordToKeyring(); !moved)
        ShowError(parent, QStringLiteral("エラー"), moved.error());
}

}  // namespace lumopet
