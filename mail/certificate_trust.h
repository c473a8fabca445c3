#pragma once
// Server certificates the user chose to trust although no certificate
// authority vouches for them (a self-signed one, one made out to another
// name, an expired one), as mail programs offer.
//
// The trust file ("★MailData/trusted_certificates") holds one line per
// server, "host:port FINGERPRINT", the fingerprint being the SHA-256 of the
// certificate in the form `openssl x509 -fingerprint -sha256` prints. The
// TLS handshake accepts a certificate that fails verification only when its
// fingerprint is the one listed for that host:port; it refuses any other
// before a password goes over the connection, and leaves its details here
// for the caller to show.

#include "core/certificate_details.h"
#include "core/program_paths.h"
#include "core/result.h"

#include <QByteArrayView>
#include <QString>

#include <functional>
#include <map>
#include <optional>

namespace lumopet::mail {

// "\★MailData\trusted_certificates".
QString TrustedCertificatesPath(const ProgramPaths& paths);

// "host:port", an IPv6 address in brackets: the key of a server in the file.
QString HostPortKey(const QString& host, int port);

// "AB:CD:...": the digest's bytes in upper-case hex, colon separated.
QString FingerprintText(QByteArrayView digest);

// host:port to fingerprint. A missing file trusts nothing. A file that
// cannot be read, or is a link, a FIFO or anything but a regular file, is a
// failure naming it, never taken for an empty one. A line that makes no
// sense trusts nothing and is dropped at the next rewrite.
using TrustedCertificates = std::map<QString, QString>;
Result<TrustedCertificates> ReadTrustedCertificates(const QString& file);

// Makes sha256 the one fingerprint trusted at hostPort (it replaces another
// trusted there before) and rewrites the file safely, keeping the other
// servers' lines. Refuses, writing nothing, when the present file cannot be
// read.
Status TrustCertificate(const QString& file, const QString& hostPort, const QString& sha256);

// The trust file the TLS handshakes of this process consult; empty: none.
void UseTrustFile(const QString& file);

// The fingerprint trusted at hostPort in the file in use; empty when there
// is none, or when the file cannot be read (then nothing is trusted).
QString TrustedFingerprint(const QString& hostPort);

// Left by the handshake that refused a certificate; taken (and so cleared)
// by the caller once the operation has failed. Kept per thread: only the
// thread whose operation was refused finds it.
void NoteRefusedCertificate(const CertificateDetails& details);
std::optional<CertificateDetails> TakeRefusedCertificate();

// What the caller offers when a certificate is refused: a question to the
// user (true: trust it), and a way to tell them that the answer could not be
// kept.
struct TrustQuestion {
    std::function<bool(const CertificateDetails&)> askToTrust;
    std::function<void(const QString&)> showError;
};

// Runs a mail operation (negative result: it failed) with trustFile in use.
// When it failed because the handshake refused a certificate, asks; when the
// user trusts the certificate, stores it and runs the operation again at
// once. Returns the last run's result; the mail layer's error text is that
// run's.
int RunWithCertificateTrust(const std::function<int()>& operation, const QString& trustFile,
                            const TrustQuestion& question);

}  // namespace lumopet::mail
