#pragma once
// What the POP3 session and the SMTP delivery of the libcurl transport
// share: the options every handle gets, and how a failed transfer is put in
// words.

#include "mail/curl_handles.h"
#include "mail/mail_transport.h"
#include "mail/server_address.h"
#include "mail/tls_certificate_check.h"

#include <QByteArray>
#include <QStringList>

namespace lumopet::mail {

// What one transfer leaves behind: the server's single-line replies (curl
// hands them to the header callback, the greeting first), the data, and
// curl's own words on a failure.
struct Exchange {
    QStringList replies;
    QByteArray data;
    char curlError[CURL_ERROR_SIZE] = {};
    // The commands we sent, by name only ("EHLO", "AUTH", "RCPT"): the rest
    // of an AUTH line is the password. Kept by TrackCommands.
    QStringList commands;

    void clear() {
        replies.clear();
        data.clear();
        commands.clear();
        curlError[0] = '\0';
    }
};

// Has curl tell us the name of each command it sends (its debug callback;
// nothing is printed).
void TrackCommands(CURL* curl, Exchange& exchange);

// The server's own error reply, when it gave one: "-ERR ..." from POP3, a
// 4xx or 5xx line from SMTP.
QString ServerError(const QStringList& replies);

// The server's own error reply (a POP3 login's refusal with a sentence
// before it, server_refusal.h), or else CurlFailure.
Failure TransferFailure(CURLcode code, const ServerAddress& server, const Exchange& exchange);

// A sentence naming host:port and what went wrong, with curl's detail.
Failure CurlFailure(CURLcode code, const ServerAddress& server, const Exchange& exchange);

// The options every handle gets: time-outs, TLS with our certificate check
// in the handshake, the reply and data collectors, no signals (transfers
// may run off the main thread). exchange and peer outlive the handle.
void SetCommonCurlOptions(CURL* curl, const ServerAddress& server, const TransportLimits& limits, Exchange& exchange,
                          const TlsPeer& peer);

// The ID and secret curl was handed: curl keeps its own copies, these are
// kept beside the handle so that nothing of them is built twice.
struct CurlLogin {
    QByteArray user;
    QByteArray secret;
};

// Tells curl how to log in (nothing for a login that is not set). APOP
// only where forPop3. An access token goes by SASL XOAUTH2, named
// explicitly: left to choose, curl 7.88 takes OAUTHBEARER whenever the
// server offers it. With a token, TLS is required on every connection
// (CURLUSESSL_ALL): a plain setting must get STLS or STARTTLS, and nothing
// goes in the clear, not even to this machine.
void SetCurlLogin(CURL* curl, const Credentials& login, bool forPop3, CurlLogin& kept);

// Whether login sends an access token.
inline bool IsBearer(const Credentials& login) { return login.method == Credentials::Method::Bearer && login.isSet(); }

// A plain server setting whose server offered no STLS / STARTTLS, for a
// login by token: said without the token.
QString TokenNeedsTlsText(const ServerAddress& server);

// text with the login's secret taken out, as written and as base64 in the
// initial responses (a server may echo what it was sent): no password or
// token ever reaches an error text.
QString WithoutSecret(QString text, const Credentials& login);

}  // namespace lumopet::mail
