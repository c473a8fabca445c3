#include "mail/certificate_trust.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "store/fixed_record_file.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>

namespace lumopet::mail {
namespace {

constexpr int kDigestBytes = 32;  // SHA-256
// A line a server takes is under 400 bytes; a bigger file is not ours.
constexpr qint64 kMaxFileSize = 1024 * 1024;
// A server that shows a new unverifiable certificate on every connection
// gets no more than this many questions in one operation.
constexpr int kMaxQuestions = 3;

Failure fileFailure(const QString& action, const QString& file, int error) {
    return Failure{QStringLiteral("信頼した証明書の一覧「%1」を%2（%3）。")
                       .arg(file, action,
                            error == ELOOP ? QStringLiteral("通常のファイルではありません")
                                           : SystemErrorText(error))};
}

// "host:port": a host without blanks, a port of digits.
bool isHostPortKey(const QByteArray& key) {
    const qsizetype colon = key.lastIndexOf(':');
    if (colon <= 0 || colon == key.size() - 1) return false;
    for (qsizetype i = colon + 1; i < key.size(); ++i)
        if (key[i] < '0' || key[i] > '9') return false;
    for (qsizetype i = 0; i < colon; ++i)
        if (static_cast<unsigned char>(key[i]) <= ' ' || key[i] == 0x7f) return false;
    return true;
}

// The fingerprint in its one written form, from 64 hex digits with or
// without colons in either case; empty for anything else.
QString normalFingerprint(QByteArray text) {
    text.replace(':', QByteArray());
    if (text.size() != 2 * kDigestBytes) return QString();
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return QString();
    return FingerprintText(QByteArray::fromHex(text));
}

struct TrustState {
    std::mutex lock;
    QString file;
};

// The handshake runs on the thread of the operation that connects (curl
// works on the caller's thread), and so does the question afterwards: a
// mail check and a send on two threads each find their own refusal, and
// neither clears the other's.
thread_local std::optional<CertificateDetails> refusedHere;

TrustState& state() {
    static TrustState instance;
    return instance;
}

}  // namespace

QString TrustedCertificatesPath(const ProgramPaths& paths) {
    return paths.path(QStringLiteral("\\★MailData\\trusted_certificates"));
}

QString HostPortKey(const QString& host, int port) {
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

QString FingerprintText(QByteArrayView digest) {
    return QString::fromLatin1(digest.toByteArray().toHex(':').toUpper());
}

Result<TrustedCertificates> ReadTrustedCertificates(const QString& file) {
    TrustedCertificates trusted;
    const QString reading = QStringLiteral("読めません");
    // No link followed, nothing but a regular file read, no wait on a FIFO.
    const UniqueFd fd(OpenRecordFile(file, O_RDONLY));
    if (!fd.ok()) {
        if (errno == ENOENT) return trusted;
        return fileFailure(reading, file, errno);
    }
    const qint64 length = FileLength(fd.get());
    if (length < 0) return fileFailure(reading, file, errno);
    if (length > kMaxFileSize) return fileFailure(reading, file, EFBIG);
    QByteArray bytes(length, Qt::Uninitialized);
    if (ReadAt(fd.get(), bytes.data(), length, 0) != length) return fileFailure(reading, file, errno ? errno : EIO);
    for (const QByteArray& line : bytes.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 2 || !isHostPortKey(fields[0])) continue;
        const QString fingerprint = normalFingerprint(fields[1]);
        if (!fingerprint.isEmpty()) trusted[QString::fromUtf8(fields[0])] = fingerprint;
    }
    return trusted;
}

Status TrustCertificate(const QString& file, const QString& hostPort, const QString& sha256) {
    const QString fingerprint = normalFingerprint(sha256.toLatin1());
    if (!isHostPortKey(hostPort.toUtf8()) || fingerprint.isEmpty())
        return Failure{QStringLiteral("証明書 %1（%2）は記録できない形です。").arg(hostPort, sha256)};
    auto trusted = ReadTrustedCertificates(file);
    if (!trusted) return Failure{trusted.error()};
    trusted.value()[hostPort] = fingerprint;
    QByteArray bytes;
    for (const auto& [key, value] : trusted.value()) bytes += key.toUtf8() + ' ' + value.toLatin1() + '\n';
    const Status written = WriteFileSafely(file, bytes);
    if (!written)
        return Failure{QStringLiteral("信頼した証明書を記録できません。\n") + written.error()};
    return success();
}

void UseTrustFile(const QString& file) {
    TrustState& s = state();
    std::lock_guard guard(s.lock);
    s.file = file;
}

QString TrustedFingerprint(const QString& hostPort) {
    QString file;
    {
        TrustState& s = state();
        std::lock_guard guard(s.lock);
        file = s.file;
    }
    if (file.isEmpty()) return QString();
    const auto trusted = ReadTrustedCertificates(file);
    if (!trusted) return QString();
    const auto found = trusted.value().find(hostPort);
    return found == trusted.value().end() ? QString() : found->second;
}

void NoteRefusedCertificate(const CertificateDetails& details) { refusedHere = details; }

std::optional<CertificateDetails> TakeRefusedCertificate() { return std::exchange(refusedHere, std::nullopt); }

int RunWithCertificateTrust(const std::function<int()>& operation, const QString& trustFile,
                            const TrustQuestion& question) {
    UseTrustFile(trustFile);
    for (int asked = 0;; ++asked) {
        TakeRefusedCertificate();  // nothing an earlier operation left
        const int result = operation();
        if (result >= 0) return result;
        const std::optional<CertificateDetails> refused = TakeRefusedCertificate();
        if (!refused || asked == kMaxQuestions || !question.askToTrust(*refused)) return result;
        if (const Status stored = TrustCertificate(trustFile, refused->hostPort, refused->sha256); !stored) {
            // Not kept, it would be refused again at once: the operation's
            // own failure stands, with this reason beside it.
            question.showError(stored.error());
            return result;
        }
    }
}

}  // namespace lumopet::mail
