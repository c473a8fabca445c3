#pragma once
// The POP3 session of the libcurl transport.

#include "mail/mail_transport.h"
#include "mail/server_address.h"

#include <memory>

namespace lumopet::mail {

std::unique_ptr<Pop3Session> MakeCurlPop3Session(const ServerAddress& server, const TransportLimits& limits);

}  // namespace lumopet::mail
