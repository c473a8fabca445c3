#include "core/settings_files/account_options.h"

#include "core/safe_file.h"
#include "core/settings_files/numeric_value.h"
#include "core/settings_files/profile_file.h"

#include <optional>
#include <vector>

namespace lumopet {
namespace {

const QString kSection = QStringLiteral("Account");
const QString kSignIn = QStringLiteral("SignIn");
const QString kOAuthIssuer = QStringLiteral("OAuthIssuer");
const QString kKeepPasswordInFile = QStringLiteral("KeepPasswordInFile");
const QString kOAuth2 = QStringLiteral("oauth2");
constexpr qsizetype kBufferSize = 256;

}  // namespace

AccountOptions ParseAccountOptions(QByteArrayView file) {
    AccountOptions options;
    const QString signIn = ProfileString(file, kSection, kSignIn, kBufferSize);
    options.SignIn = signIn.compare(kOAuth2, Qt::CaseInsensitive) == 0 ? SignInMethod::OAuth2 : SignInMethod::Password;
    options.OAuthIssuer = ProfileString(file, kSection, kOAuthIssuer, kBufferSize);
    // On when the value reads as the number 1, as the file's other switches.
    const QString keep = ProfileString(file, kSection, kKeepPasswordInFile, kBufferSize);
    options.KeepPasswordInFile = !keep.isEmpty() && NumericValue(keep) == 1.0;
    return options;
}

Result<AccountOptions> ReadAccountOptions(const QString& path) {
    const Result<std::optional<QByteArray>> file = ReadFileIfPresent(path);
    if (!file) return Failure{file.error()};
    if (!file.value()) return AccountOptions{};
    return ParseAccountOptions(*file.value());
}

Status WriteAccountOptions(const QString& path, const AccountOptions& options) {
    const std::vector<ProfileEntry> entries{
        {kSignIn, options.SignIn == SignInMethod::OAuth2 ? kOAuth2 : QStringLiteral("password")},
        {kOAuthIssuer, options.OAuthIssuer},
        {kKeepPasswordInFile, options.KeepPasswordInFile ? QStringLiteral("1") : QStringLiteral("0")}};
    return WriteProfileStrings(path, kSection, entries);
}

}  // namespace lumopet
