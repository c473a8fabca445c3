#include "mail/account_values.h"

#include "core/settings_files/account_file.h"
#include "store/account_secrets.h"
#include "store/secret_stores.h"

#include <memory>

namespace lumopet {

mail::Credentials PasswordCredentials(const Program& program) {
    const QString accountFile = program.paths.path(files::AccountFile);
    const std::unique_ptr<SecretStore> store = OpenSecretStore(program.paths);
    const Result<Account> loaded = AccountSecrets(*store, accountFile).load();
    const Account account = loaded ? loaded.value() : Account{ReadAccount(accountFile).UserId, QString()};
    return program.values.ApopFlag != 0 ? mail::Credentials::apop(account.UserId, account.UserPassword)
                                        : mail::Credentials::password(account.UserId, account.UserPassword);
}

}  // namespace lumopet
