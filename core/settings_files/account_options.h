#pragma once
// "★MailData\lumopet.ini", section [Account]: how the account signs in,
// beside the receive and viewer options in the same file.
//
//   SignIn       "password" (the default: the ID and password of
//                iniIdPass.ini, or APOP, as the program always did) or
//                "oauth2" (an OAuth2 access token, SASL XOAUTH2).
//   OAuthIssuer  with oauth2: the issuer of the provider file's oAuth2
//                element that gives the sign-in's URLs and scope
//                ("accounts.google.com", "login.microsoftonline.com").
//   KeepPasswordInFile  1: the user answered いいえ when asked to move the
//                password of iniIdPass.ini into the desktop's keyring; the
//                question is not asked again.
//
// Anything but "oauth2" reads as password, so that a file from before, or
// a hand-edited one, signs in as it always did.

#include "core/result.h"

#include <QByteArrayView>
#include <QString>

namespace lumopet {

enum class SignInMethod { Password, OAuth2 };

struct AccountOptions {
    SignInMethod SignIn = SignInMethod::Password;
    QString OAuthIssuer;
    bool KeepPasswordInFile = false;

    bool operator==(const AccountOptions&) const = default;
};

Result<AccountOptions> ReadAccountOptions(const QString& path);
AccountOptions ParseAccountOptions(QByteArrayView file);
// Writes the section's keys in place; every other line stays as it is.
Status WriteAccountOptions(const QString& path, const AccountOptions& options);

}  // namespace lumopet
