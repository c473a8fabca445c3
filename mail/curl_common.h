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

}  // namespace lumopet::mail
