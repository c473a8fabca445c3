#pragma once
// The login of the account, as the mail check and the send take it: read
// each time, so that what the account window saved last is what logs in.
// Built on the window thread and handed to the worker as a value; this is
// the one place that decides where it comes from.

#include "core/program.h"
#include "mail/mail_transport.h"

namespace lumopet {

// The ID of iniIdPass.ini and the password the secret store keeps for it
// (the desktop's keyring, else iniIdPass.ini: store/account_secrets.h), for
// APOP when the server settings ask for it (ApopFlag). An ID or password
// left empty gives credentials that are not set (Credentials::isSet), and
// so does a keyring that does not answer: the check then asks for the
// password in the account window, as when none is kept. The method still
// says how they would log in.
//
// On the window thread only: the keyring answers on its event loop.
mail::Credentials PasswordCredentials(const Program& program);

}  // namespace lumopet
