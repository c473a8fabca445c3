#pragma once
// The check every TLS handshake of the mail layer runs on the server's
// certificate, inside the handshake, so that nothing (a password least of
// all) goes over a connection whose certificate is neither verified nor
// trusted. It verifies as usual: the chain up to a known authority, the
// validity dates, and the server's name or address. A certificate that
// fails is accepted only when its SHA-256 fingerprint is the one trusted for
// that host:port (certificate_trust.h); otherwise the handshake fails and
// the certificate's details are left for the caller to show.

#include <QString>

namespace lumopet::mail {

// Whom a connection is meant for. Outlives the transfers that use it.
struct TlsPeer {
    QString host;  // as in the URL, an IPv6 address without brackets
    int port = 0;
};

// Puts the check into the OpenSSL SSL_CTX that curl hands to its
// CURLOPT_SSL_CTX_FUNCTION, before the handshake. It does all the
// verification, the name check included.
void InstallCertificateCheck(void* sslContext, const TlsPeer& peer);

}  // namespace lumopet::mail
