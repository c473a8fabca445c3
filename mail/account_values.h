#pragma once
// The login of the account, as the mail check and the send take it: read
// from the account file each time, so that what the account window saved
// last is what logs in. Built on the window thread and handed to the worker
// as a value; this is the one place that decides where it comes from.

#include "core/program.h"
#include "core/settings_files/account_file.h"
#include "mail/mail_transport.h"

namespace lumopet {

// The saved ID and password, for APOP when the server settings ask for it
// (ApopFlag). An ID or password left empty gives credentials that are not
// set (Credentials::isSet); the method still says how they would log in.
inline mail::Credentials PasswordCredentials(const Program& program) {
    const Account account = ReadAccount(program.paths.path(files::AccountFile));
    return program.values.ApopFlag != 0 ? mail::Credentials::apop(account.UserId, account.UserPassword)
                                        : mail::Credentials::password(account.UserId, account.UserPassword);
}

}  // namespace lumopet
