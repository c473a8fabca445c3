#pragma once
// The account's ID and password over the secret store. iniIdPass.ini keeps
// NAME (the ID) and NAME3 (the save box) in its format whatever the store;
// with a keyring its NAME2 is empty and the password is the keyring's.
//
// A folder copied from the Windows version holds its password in NAME2.
// While a keyring answers, that password is still used, and the program
// offers to move it: the keyring gets it first, and NAME2 is emptied only
// once the keyring gives it back.

#include "core/result.h"
#include "core/settings_files/account_file.h"
#include "store/secret_store.h"

namespace lumopet {

class AccountSecrets {
public:
    AccountSecrets(SecretStore& store, QString accountFile);

    // NAME, and the password kept for it: the store's, or with a keyring,
    // NAME2's while it still holds one (not moved yet). A keyring that does
    // not answer is a failure.
    Result<Account> load();

    // A keyring answers and NAME2 holds a password (for an ID to keep it
    // under): there is a password to move.
    bool hasPasswordToMove() const;
    // Writes NAME2's password into the keyring under NAME, reads it back,
    // and only then empties NAME2.
    Status movePasswordToKeyring();

    // The save box ticked at OK: the password kept for the ID (the keyring
    // when there, else NAME2), NAME = id, NAME3 = 1. A password kept in the
    // keyring for an earlier ID goes.
    Status keep(const QString& id, const QString& password);
    // The save box cleared at OK: no password kept anywhere, for NAME's ID
    // nor for the one typed: the keyring's entries go and NAME2 is emptied;
    // NAME3 = 0, NAME stays as it was.
    Status forget(const QString& typedId);

private:
    SecretStore& store_;
    QString accountFile_;
};

}  // namespace lumopet
