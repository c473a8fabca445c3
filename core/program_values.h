#pragma once
// The values the whole program shares: the servers, the own address, the
// login kind and the account. Filled at start-up and by the settings
// windows; read by the mail check and the send.

#include <QString>

#include <cstdint>

namespace lumopet {

struct ProgramValues {
    QString SmtpServer;
    QString Pop3Server;  // empty: no POP3 server set up yet
    QString MailAddress;
    std::int16_t ApopFlag = 0;  // 0: plain login; anything else: APOP
    QString UserId;
    QString UserPassword;
};

}  // namespace lumopet
