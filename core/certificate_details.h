#pragma once
// A server certificate that could not be verified, as the mail layer saw it
// in the TLS handshake: what the window that asks whether to trust it shows.
// Plain data, so that the TLS code can fill it and a window can show it
// without either knowing the other.

#include <QDateTime>
#include <QString>

namespace lumopet {

struct CertificateDetails {
    QString hostPort;  // "localhost:995" ("[::1]:995"), as the trust file keys it
    QString reason;    // why it could not be verified, in words for the user
    QString subject;
    QString issuer;
    QDateTime validFrom;  // UTC
    QDateTime validTo;    // UTC
    // "AB:CD:...", the way `openssl x509 -fingerprint -sha256` prints it.
    QString sha256;
    // The fingerprint trusted for hostPort when it is another certificate's;
    // empty when none was trusted there.
    QString trustedSha256;
};

}  // namespace lumopet
