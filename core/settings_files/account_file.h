#pragma once
// "★MailData\iniIdPass.ini": the POP3 account. Section "EXEINI"; "NAME" the
// ID, "NAME2" the password in plain text (the format requires it, so the
// file is kept readable by its owner only), "NAME3" whether the last OK
// saved them.

#include "core/result.h"

#include <QString>

#include <optional>

namespace lumopet {

struct Account {
    QString UserId;
    QString UserPassword;
};

// Empty texts for whatever is missing.
Account ReadAccount(const QString& path);

// With the save box ticked: NAME = id, NAME2 = password, NAME3 = "1".
// Cleared: only NAME3 = "0"; an ID and password saved before stay.
Status WriteAccount(const QString& path, const QString& id, const QString& password, bool saveBoxTicked);

// The keys that are given, in one rewrite of the file (kept 0600); the
// others stay as they are. What the secret store and the account window
// change when the password lives in the desktop's keyring: NAME2 is then
// empty, and NAME and NAME3 keep their meaning.
struct AccountKeys {
    std::optional<QString> id;        // NAME
    std::optional<QString> password;  // NAME2
    std::optional<bool> saveBoxTicked;  // NAME3
};
Status ChangeAccount(const QString& path, const AccountKeys& keys);

}  // namespace lumopet
