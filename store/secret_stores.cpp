#include "store/secret_stores.h"

#include "core/safe_file.h"
#include "core/settings_files/account_file.h"
#include "core/settings_files/profile_file.h"
#include "core/system_error_text.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");

// ------------------------------------------------------------------ keyring

struct JobAnswer {
    bool answered = false;
    QKeychain::Error error = QKeychain::NoError;
    QString errorText;
    QString text;  // what a read found
};

// Starts the job and waits for its answer, or for the time to run out. The
// job deletes itself once it has finished, also when it answers after we
// stopped waiting: the keyring may still be calling back into it then.
JobAnswer runJob(QKeychain::Job* job, std::chrono::milliseconds answerTime) {
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    JobAnswer answer;
    QEventLoop loop;
    // Tied to the loop: an answer after the wait ends reaches nothing here.
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&answer, &loop](QKeychain::Job* done) {
        answer.answered = true;
        answer.error = done->error();
        answer.errorText = done->errorString();
        if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done)) answer.text = read->textData();
        loop.quit();
    });
    QTimer::singleShot(answerTime, &loop, &QEventLoop::quit);
    job->start();
    // A job may answer at once (no keyring library at all); quit() before
    // exec() would not end the loop.
    if (!answer.answered) loop.exec(QEventLoop::ExcludeUserInputEvents);
    return answer;
}

Failure keyringFailure(const JobAnswer& answer, const QString& doing) {
    if (!answer.answered) return Failure{QStringLiteral("デスクトップのキーリングが応答しません（%1）。").arg(doing)};
    return Failure{QStringLiteral("デスクトップのキーリングで%1できませんでした（%2）。").arg(doing, answer.errorText)};
}

// ------------------------------------------------------------------ files

const QString kTokenSection = QStringLiteral("OAuth2");
const QString kTokenAccountKey = QStringLiteral("Account");
const QString kTokenKey = QStringLiteral("RefreshToken");
// Refresh tokens run to a few kilobytes (Microsoft's); the profile engine
// cuts a value at the buffer's size.
constexpr qsizetype kTokenBufferSize = 64 * 1024;
constexpr mode_t kOwnerOnly = 0600;

// Whatever stands at the path when it is not a regular file (a link, a
// folder) is refused: a secret is never written through a link.
Status refuseAllButRegularFile(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENOENT) return success();
        return Failure{QStringLiteral("ファイル「%1」を確かめられません（%2）。").arg(path, SystemErrorText(errno))};
    }
    if (S_ISLNK(info.st_mode))
        return Failure{QStringLiteral("ファイル「%1」がリンクになっているため、書き込みません。").arg(path)};
    if (!S_ISREG(info.st_mode))
        return Failure{QStringLiteral("「%1」が通常のファイルではないため、書き込みません。").arg(path)};
    return success();
}

}  // namespace

// ------------------------------------------------------------------ KeyringSecretStore

KeyringSecretStore::KeyringSecretStore(std::chrono::milliseconds answerTime) : answerTime_(answerTime) {}

QString KeyringSecretStore::key(SecretKind kind, const QString& account) {
    switch (kind) {
    case SecretKind::Password: return QStringLiteral("password:") + account;
    case SecretKind::RefreshToken: return QStringLiteral("refresh-token:") + account;
    }
    return {};
}

Result<std::optional<QString>> KeyringSecretStore::read(SecretKind kind, const QString& account) {
    auto* job = new QKeychain::ReadPasswordJob(kKeyringService);
    job->setKey(key(kind, account));
    const JobAnswer answer = runJob(job, answerTime_);
    if (answer.answered && answer.error == QKeychain::EntryNotFound) return std::optional<QString>();
    if (!answer.answered || answer.error != QKeychain::NoError)
        return keyringFailure(answer, QStringLiteral("読み込み"));
    return std::optional<QString>(answer.text);
}

Status KeyringSecretStore::write(SecretKind kind, const QString& account, const QString& secret) {
    auto* job = new QKeychain::WritePasswordJob(kKeyringService);
    job->setKey(key(kind, account));
    job->setTextData(secret);
    const JobAnswer answer = runJob(job, answerTime_);
    if (!answer.answered || answer.error != QKeychain::NoError) return keyringFailure(answer, QStringLiteral("保存"));
    return success();
}

Status KeyringSecretStore::remove(SecretKind kind, const QString& account) {
    auto* job = new QKeychain::DeletePasswordJob(kKeyringService);
    job->setKey(key(kind, account));
    const JobAnswer answer = runJob(job, answerTime_);
    if (answer.answered && (answer.error == QKeychain::NoError || answer.error == QKeychain::EntryNotFound))
        return success();
    return keyringFailure(answer, QStringLiteral("削除"));
}

// ------------------------------------------------------------------ FileSecretStore

FileSecretStore::FileSecretStore(const ProgramPaths& paths)
    : accountFile_(paths.path(files::AccountFile)), tokenFile_(paths.path(files::RefreshTokenFile)) {}

Result<std::optional<QString>> FileSecretStore::read(SecretKind kind, const QString& account) {
    if (kind == SecretKind::Password) {
        const Account kept = ReadAccount(accountFile_);
        if (kept.UserId != account || kept.UserPassword.isEmpty()) return std::optional<QString>();
        return std::optional<QString>(kept.UserPassword);
    }
    const Result<std::optional<QByteArray>> file = ReadPrivateFileIfPresent(tokenFile_);
    if (!file) return Failure{file.error()};
    if (!file.value()) return std::optional<QString>();
    const QByteArray& bytes = *file.value();
    const QString token = ProfileString(bytes, kTokenSection, kTokenKey, kTokenBufferSize);
    if (account.isEmpty() || ProfileString(bytes, kTokenSection, kTokenAccountKey, kTokenBufferSize) != account ||
        token.isEmpty())
        return std::optional<QString>();
    return std::optional<QString>(token);
}

Status FileSecretStore::write(SecretKind kind, const QString& account, const QString& secret) {
    if (kind == SecretKind::Password) {
        AccountKeys keys;
        keys.id = account;
        keys.password = secret;
        return ChangeAccount(accountFile_, keys);
    }
    if (const Status refused = refuseAllButRegularFile(tokenFile_); !refused) return refused;
    return UpdateProfileFile(
        tokenFile_,
        [&](QByteArray file) {
            file = SetProfileValue(file, kTokenSection, kTokenAccountKey, account);
            return SetProfileValue(file, kTokenSection, kTokenKey, secret);
        },
        kOwnerOnly);
}

Status FileSecretStore::remove(SecretKind kind, const QString& account) {
    if (kind == SecretKind::Password) {
        const Account kept = ReadAccount(accountFile_);
        if (kept.UserId != account || kept.UserPassword.isEmpty()) return success();
        AccountKeys keys;
        keys.password = QString();
        return ChangeAccount(accountFile_, keys);
    }
    const Result<std::optional<QString>> kept = read(kind, account);
    if (kept && !kept.value()) return success();
    // A link in the file's place goes as the file would: unlink never
    // follows it.
    if (::unlink(QFile::encodeName(tokenFile_).constData()) != 0 && errno != ENOENT)
        return Failure{QStringLiteral("ファイル「%1」を削除できません（%2）。").arg(tokenFile_, SystemErrorText(errno))};
    return success();
}

// ------------------------------------------------------------------ the choice

bool SecretServiceOnSessionBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QDBusConnectionInterface* daemon = bus.interface();
    if (daemon == nullptr) return false;
    const QDBusReply<bool> registered = daemon->isServiceRegistered(kSecretService);
    if (registered.isValid() && registered.value()) return true;
    const QDBusReply<QStringList> activatable = daemon->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kSecretService);
}

std::unique_ptr<SecretStore> ChooseSecretStore(const ProgramPaths& paths) {
    if (SecretServiceOnSessionBus()) return std::make_unique<KeyringSecretStore>();
    return std::make_unique<FileSecretStore>(paths);
}

namespace {

SecretStoreMaker& storeMaker() {
    static SecretStoreMaker maker;
    return maker;
}

}  // namespace

void SetSecretStoreMaker(SecretStoreMaker maker) { storeMaker() = std::move(maker); }

std::unique_ptr<SecretStore> OpenSecretStore(const ProgramPaths& paths) {
    if (const SecretStoreMaker& maker = storeMaker()) return maker(paths);
    return ChooseSecretStore(paths);
}

}  // namespace lumopet
