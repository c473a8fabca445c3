#pragma once
// The secrets of one browser sign-in that only this program and the
// provider may know: the PKCE verifier (RFC 7636) and the state that ties
// the browser's redirect to the request we made.

#include <QByteArray>
#include <QByteArrayView>

namespace lumopet::mail {

// count random bytes from the system's CSPRNG, as unpadded base64url: the
// unreserved characters RFC 7636 4.1 allows in a verifier. 32 bytes make 43
// characters, the shortest verifier it allows, with 256 bits in it.
QByteArray RandomUrlSafeText(int count = 32);

// code_challenge for S256: BASE64URL(SHA256(ASCII(code_verifier))), no
// padding (RFC 7636 4.2).
QByteArray PkceChallenge(QByteArrayView verifier);

struct PkcePair {
    QByteArray verifier;
    QByteArray challenge;
};
PkcePair MakePkcePair();

}  // namespace lumopet::mail
