#pragma once
// The account's ID and password, as the mail check and the send both take
// them: read from the account file into the program values each time, so
// that what the account window saved last is what logs in.

#include "core/program.h"
#include "core/settings_files/account_file.h"

namespace lumopet {

inline void LoadAccountValues(Program& program) {
    const Account account = ReadAccount(program.paths.path(files::AccountFile));
    program.values.UserId = account.UserId;
    program.values.UserPassword = account.UserPassword;
}

}  // namespace lumopet
