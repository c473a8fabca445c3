#include "store/account_secrets.h"

#include <QStringList>

#include <utility>

namespace lumopet {

AccountSecrets::AccountSecrets(SecretStore& store, QString accountFile)
    : store_(store), accountFile_(std::move(accountFile)) {}

Result<Account> AccountSecrets::load() {
    const Account file = ReadAccount(accountFile_);
    if (store_.inKeyring()) {
        // A password in NAME2 beside a keyring was put there by something
        // else than keeping it (which empties NAME2): a folder from Windows,
        // or from before the keyring. It is the newer one, and it logs in
        // until it is moved, so that moving it changes nothing. No ID names
        // no keyring entry: the file's password then stands as it is.
        if (!file.UserPassword.isEmpty() || file.UserId.isEmpty()) return file;
    }
    const Result<std::optional<QString>> kept = store_.read(SecretKind::Password, file.UserId);
    if (!kept) return Failure{kept.error()};
    return Account{file.UserId, kept.value().value_or(QString())};
}

bool AccountSecrets::hasPasswordToMove() const {
    if (!store_.inKeyring()) return false;
    const Account file = ReadAccount(accountFile_);
    return !file.UserId.isEmpty() && !file.UserPassword.isEmpty();
}

Status AccountSecrets::movePasswordToKeyring() {
    const Account file = ReadAccount(accountFile_);
    if (!store_.inKeyring() || file.UserId.isEmpty() || file.UserPassword.isEmpty()) return success();
    if (const Status written = store_.write(SecretKind::Password, file.UserId, file.UserPassword); !written)
        return written;
    // The file's copy goes only when the keyring gives the password back:
    // a keyring that said yes and kept nothing would lose it.
    const Result<std::optional<QString>> back = store_.read(SecretKind::Password, file.UserId);
    if (!back || !back.value() || *back.value() != file.UserPassword)
        return Failure{QStringLiteral("キーリングに移したパスワードを読み戻せないため、iniIdPass.ini のパスワードはそのままにしました。")};
    AccountKeys keys;
    keys.password = QString();
    return ChangeAccount(accountFile_, keys);
}

Status AccountSecrets::keep(const QString& id, const QString& password) {
    const QString previousId = ReadAccount(accountFile_).UserId;
    AccountKeys keys;
    keys.id = id;
    keys.saveBoxTicked = true;
    if (!store_.inKeyring()) {
        keys.password = password;
        return ChangeAccount(accountFile_, keys);
    }
    // The keyring first: the file says nothing of a password until the
    // keyring holds it.
    const bool anything = !id.isEmpty() && !password.isEmpty();
    if (anything) {
        if (const Status written = store_.write(SecretKind::Password, id, password); !written) return written;
    }
    keys.password = QString();
    if (const Status changed = ChangeAccount(accountFile_, keys); !changed) return changed;
    // One account: a password kept for another ID (the one before, or this
    // one when there is no password now) is kept no longer.
    QStringList stale;
    if (!previousId.isEmpty() && previousId != id) stale << previousId;
    if (!anything && !id.isEmpty()) stale << id;
    for (const QString& other : stale)
        if (const Status removed = store_.remove(SecretKind::Password, other); !removed) return removed;
    return success();
}

Status AccountSecrets::forget(const QString& typedId) {
    const Account file = ReadAccount(accountFile_);
    Status result = success();
    if (store_.inKeyring()) {
        QStringList ids;
        for (const QString& id : {file.UserId, typedId})
            if (!id.isEmpty() && !ids.contains(id)) ids << id;
        for (const QString& id : ids) {
            const Status removed = store_.remove(SecretKind::Password, id);
            if (result && !removed) result = removed;
        }
    }
    // Emptied whatever the keyring said: the user asked for no password to
    // be kept, and the file's copy is the one anybody can find.
    AccountKeys keys;
    keys.password = QString();
    keys.saveBoxTicked = false;
    const Status changed = ChangeAccount(accountFile_, keys);
    if (result && !changed) result = changed;
    return result;
}

}  // namespace lumopet
