#include "settings/password_move_question.h"

#include "core/program_paths.h"
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
    const std::unique_ptr<SecretStore> store = OpenSecretStore(paths);
    AccountSecrets secrets(*store, paths.path(files::AccountFile));
    if (!secrets.hasPasswordToMove()) return;
    if (!AskToConfirm(parent, kMovePasswordQuestion)) return;
    if (const Status moved = secrets.movePasswordToKeyring(); !moved)
        ShowError(parent, QStringLiteral("エラー"), moved.error());
}

}  // namespace lumopet
