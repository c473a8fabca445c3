#pragma once
// Where the account's secrets are kept: the password and the OAuth2 refresh
// token. With a Secret Service on the session bus (GNOME Keyring, KWallet)
// they go to the desktop's keyring; without one the password stays in
// iniIdPass.ini (0600) as it always did, and the refresh token goes to a
// 0600 file of its own. Never silently anywhere else.
//
// The calls answer on the thread that makes them, and only the window
// thread makes them: the keyring answers through the session bus, on that
// thread's event loop.

#include "core/result.h"

#include <QString>

#include <optional>

namespace lumopet {

enum class SecretKind { Password, RefreshToken };

class SecretStore {
public:
    virtual ~SecretStore() = default;
    // Whether the secrets live in the desktop's keyring (else in files of
    // the data folder).
    virtual bool inKeyring() const = 0;
    // The secret kept for the account (its ID), or nullopt when none is.
    // A keyring that is there and does not answer is a failure, not "none".
    virtual Result<std::optional<QString>> read(SecretKind kind, const QString& account) = 0;
    virtual Status write(SecretKind kind, const QString& account, const QString& secret) = 0;
    // Nothing kept is no failure.
    virtual Status remove(SecretKind kind, const QString& account) = 0;
};

}  // namespace lumopet
