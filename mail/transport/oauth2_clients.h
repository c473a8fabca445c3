#pragma once
// The program's OAuth2 client registrations, one per issuer: the client ID
// the provider gave this program for desktop use, and the client secret
// where the provider hands desktop clients one (Google does; for a desktop
// program it is no secret, RFC 8252 8.5).
//
// oauth2_clients.ini, CP932 or ASCII with CR LF, through the INI engine:
//
//   [accounts.google.com]
//   ClientId=...
//   ClientSecret=...
//
// Three places, a later one winning: the file shipped with the program
// (beside its other data files), the values given when it was built (the
// CMake cache variables LUMOPET_OAUTH_GOOGLE_CLIENT_ID and _SECRET,
// LUMOPET_OAUTH_MICROSOFT_CLIENT_ID), and ★MailData/oauth2_clients.ini.
// A place gives an issuer's client only with a ClientId, and then whole:
// a secret is never paired with another place's ID.

#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace lumopet::mail {

struct OAuth2Client {
    QString clientId;
    QString clientSecret;  // empty: none

    bool operator==(const OAuth2Client&) const = default;
};

inline const QString kGoogleIssuer = QStringLiteral("accounts.google.com");
inline const QString kMicrosoftIssuer = QStringLiteral("login.microsoftonline.com");

// "oauth2_clients.ini": the shipped file's name, and the user's in the data folder.
inline const QString kClientsFileName = QStringLiteral("oauth2_clients.ini");

// The client an INI file's bytes give the issuer; nothing without a ClientId.
std::optional<OAuth2Client> ClientFromFile(QByteArrayView file, const QString& issuer);

// The clients given when the program was built (empty IDs: none).
std::optional<OAuth2Client> BuiltInClient(const QString& issuer);

// The places in order, the first losing.
struct ClientSources {
    QByteArray shippedFile;
    std::vector<std::pair<QString, OAuth2Client>> builtIn;  // issuer, client
    QByteArray userFile;
};

// The issuer's client from the places; a failure the setup window can show
// when none gives an ID.
Result<OAuth2Client> ChooseClient(const ClientSources& sources, const QString& issuer);

// The shipped file, in ProgramPaths::ShippedDataFolder().
QString ShippedClientsFile();

// ChooseClient over the shipped file, the built-in values and the user's
// file of the program folder.
Result<OAuth2Client> FindOAuth2Client(const ProgramPaths& paths, const QString& issuer);

}  // namespace lumopet::mail
