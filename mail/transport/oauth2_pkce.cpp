#include "mail/transport/oauth2_pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <vector>

namespace lumopet::mail {

namespace {

constexpr auto kBase64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

}  // namespace

QByteArray RandomUrlSafeText(int count) {
    // QRandomGenerator::system() reads the kernel's generator (getrandom),
    // never a seeded one: a guessed state or verifier would let another
    // program on the machine take the sign-in.
    std::vector<quint32> words((count + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), static_cast<qsizetype>(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), count);
    return bytes.toBase64(kBase64Url);
}

QByteArray PkceChallenge(QByteArrayView verifier) {
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256).toBase64(kBase64Url);
}

PkcePair MakePkcePair() {
    QByteArray verifier = RandomUrlSafeText(32);
    QByteArray challenge = PkceChallenge(verifier);
    return {std::move(verifier), std::move(challenge)};
}

}  // namespace lumopet::mail
