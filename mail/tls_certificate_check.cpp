#include "mail/tls_certificate_check.h"

#include "mail/certificate_trust.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <QStringList>

#include <algorithm>
#include <arpa/inet.h>
#include <ctime>
#include <memory>
#include <vector>

namespace lumopet::mail {
namespace {

// The verification errors of the handshake under way on this thread; the
// verify callback has no argument of its own.
thread_local std::vector<int>* collectedErrors = nullptr;

// Notes every error and lets the verification go on: the user is shown all
// that is wrong with the certificate, and the decision is ours.
int collectError(int ok, X509_STORE_CTX* store) {
    if (!ok && collectedErrors) {
        const int error = X509_STORE_CTX_get_error(store);
        if (std::find(collectedErrors->begin(), collectedErrors->end(), error) == collectedErrors->end())
            collectedErrors->push_back(error);
    }
    return 1;
}

QString reasonText(int error, const QString& host) {
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return QStringLiteral("自己署名の証明書です（信頼できる認証局が発行したものではありません）。");
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return QStringLiteral("発行元が信頼できる認証局ではありません。");
    case X509_V_ERR_CERT_HAS_EXPIRED: return QStringLiteral("有効期限が切れています。");
    case X509_V_ERR_CERT_NOT_YET_VALID: return QStringLiteral("有効期間がまだ始まっていません。");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("サーバー名「%1」に宛てた証明書ではありません。").arg(host);
    default:
        return QStringLiteral("証明書を検証できません（%1）。").arg(QString::fromUtf8(X509_verify_cert_error_string(error)));
    }
}

QString nameText(const X509_NAME* name) {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!name || !bio) return QString();
    // "O = Lumopet, CN = localhost", as openssl x509 -subject shows it, with
    // UTF-8 left as it is.
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, static_cast<qsizetype>(length));
}

QDateTime timeOf(const ASN1_TIME* time) {
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return QDateTime();
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString fingerprintOf(const X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return QString();
    return FingerprintText(QByteArrayView(digest, length));
}

CertificateDetails describe(const X509* leaf, const TlsPeer& peer, const std::vector<int>& errors) {
    CertificateDetails details;
    details.hostPort = HostPortKey(peer.host, peer.port);
    QStringList reasons;
    for (const int error : errors) {
        const QString reason = reasonText(error, peer.host);
        if (!reasons.contains(reason)) reasons << reason;
    }
    details.reason = reasons.isEmpty() ? QStringLiteral("証明書を検証できません。") : reasons.join(u'\n');
    details.subject = nameText(X509_get_subject_name(leaf));
    details.issuer = nameText(X509_get_issuer_name(leaf));
    details.validFrom = timeOf(X509_get0_notBefore(leaf));
    details.validTo = timeOf(X509_get0_notAfter(leaf));
    details.sha256 = fingerprintOf(leaf);
    return details;
}

// OpenSSL's SSL_CTX_set_cert_verify_callback: in place of its own chain
// verification. 1 accepts the certificate, 0 ends the handshake.
int checkCertificate(X509_STORE_CTX* store, void* argument) {
    const TlsPeer& peer = *static_cast<const TlsPeer*>(argument);
    // The name is checked here, with the chain, rather than by curl after
    // the handshake: a trusted certificate may be made out to another name.
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(store);
    const QByteArray host = peer.host.toUtf8();
    unsigned char address[16];
    if (inet_pton(AF_INET, host.constData(), address) == 1 || inet_pton(AF_INET6, host.constData(), address) == 1)
        X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
    else
        X509_VERIFY_PARAM_set1_host(param, host.constData(), 0);

    std::vector<int> errors;
    collectedErrors = &errors;
    X509_STORE_CTX_set_verify_cb(store, collectError);
    const int verified = X509_verify_cert(store);
    collectedErrors = nullptr;
    if (verified == 1 && errors.empty()) return 1;

    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (!leaf) {
        X509_STORE_CTX_set_error(store, X509_V_ERR_UNSPECIFIED);
        return 0;
    }
    CertificateDetails details = describe(leaf, peer, errors);
    const QString trusted = TrustedFingerprint(details.hostPort);
    if (!details.sha256.isEmpty() && details.sha256 == trusted) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    details.trustedSha256 = trusted;
    NoteRefusedCertificate(details);
    X509_STORE_CTX_set_error(store, errors.empty() ? X509_V_ERR_UNSPECIFIED : errors.front());
    return 0;
}

}  // namespace

void InstallCertificateCheck(void* sslContext, const TlsPeer& peer) {
    SSL_CTX* context = static_cast<SSL_CTX*>(sslContext);
    // A failed check must end the handshake, whatever curl asked for.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, checkCertificate, const_cast<TlsPeer*>(&peer));
}

}  // namespace lumopet::mail
