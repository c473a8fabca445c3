#pragma once
// The two homes of the account's secrets, and the choice between them.
//
// The keyring: the desktop's Secret Service (GNOME Keyring, KWallet)
// through QtKeychain, service "Lumopet", one entry per kind and account
// ("password:<ID>", "refresh-token:<ID>"). QtKeychain's plain-text fallback
// is always off: where no keyring takes a secret, the program says so; it
// never puts it into a settings file of QtKeychain's own.
//
// The files: the password in iniIdPass.ini NAME2, as the program always
// kept it (0600, beside NAME, the ID it belongs to); the refresh token in
// ★MailData/oauth2_token.ini (0600, section [OAuth2]: Account and
// RefreshToken), which is never read or written through a link.
//
// The keyring's jobs answer asynchronously; its calls wait for them on a
// local event loop (user input held back) for at most the time given. They
// run on the window thread only, as SecretStore says.

#include "core/program_paths.h"
#include "store/secret_store.h"

#include <chrono>
#include <functional>
#include <memory>

namespace lumopet {

// The service name under which the keyring keeps the program's entries.
inline const QString kKeyringService = QStringLiteral("Lumopet");

class KeyringSecretStore : public SecretStore {
public:
    // Long enough for the user to type the keyring's own password when the
    // desktop asks for it before it opens.
    static constexpr std::chrono::milliseconds kDefaultAnswerTime{120'000};

    explicit KeyringSecretStore(std::chrono::milliseconds answerTime = kDefaultAnswerTime);

    bool inKeyring() const override { return true; }
    Result<std::optional<QString>> read(SecretKind kind, const QString& account) override;
    Status write(SecretKind kind, const QString& account, const QString& secret) override;
    Status remove(SecretKind kind, const QString& account) override;

    // The entry's key in the keyring.
    static QString key(SecretKind kind, const QString& account);

private:
    std::chrono::milliseconds answerTime_;
};

class FileSecretStore : public SecretStore {
public:
    explicit FileSecretStore(const ProgramPaths& paths);

    bool inKeyring() const override { return false; }
    // A password is the account's when NAME names that account (an empty
    // NAME the empty ID, as the file always read): the file holds one
    // account, and the password of another ID is none of this one's.
    Result<std::optional<QString>> read(SecretKind kind, const QString& account) override;
    // The password goes into NAME2 with its ID into NAME (NAME3 is the
    // account window's); the refresh token replaces the token file's.
    Status write(SecretKind kind, const QString& account, const QString& secret) override;
    // Empties NAME2, or removes the token file.
    Status remove(SecretKind kind, const QString& account) override;

private:
    QString accountFile_;
    QString tokenFile_;
};

// Whether a Secret Service answers on the session bus: the name
// org.freedesktop.secrets is owned, or the bus can start its owner.
bool SecretServiceOnSessionBus();

// The keyring when a Secret Service answers, else the files.
std::unique_ptr<SecretStore> ChooseSecretStore(const ProgramPaths& paths);

// Where the program gets its store: ChooseSecretStore, or what a test put
// in its place (an empty maker brings back the real choice), so that a
// window test never touches the desktop's keyring.
using SecretStoreMaker = std::function<std::unique_ptr<SecretStore>(const ProgramPaths&)>;
void SetSecretStoreMaker(SecretStoreMaker maker);
std::unique_ptr<SecretStore> OpenSecretStore(const ProgramPaths& paths);

}  // namespace lumopet
