#pragma once
// The name this machine gives itself in EHLO. RFC 5321 4.1.1.1 asks for the
// client's fully qualified domain name, or an address literal (4.1.3) when
// it has none. Servers hold clients to it: Postfix's
// reject_non_fqdn_helo_hostname answers "504 5.5.2 <localhost>: Helo
// command rejected", and spam filters score a bare or local name.

#include <QString>

#include <sys/socket.h>

namespace lumopet::mail {

// A name fit to greet with: at least two labels of letters, digits and
// hyphens (RFC 1123 2.1), no label over 63 characters, and not a name of
// the machine's own loopback ("localhost", "localhost.localdomain", any
// "*.localdomain"), which says nothing to the server. A final dot is taken
// off before the check.
bool IsFullyQualifiedHostName(const QString& name);

// "[192.0.2.10]" or "[IPv6:2001:db8::1]" (RFC 5321 4.1.3); an IPv4 address
// in IPv6 form (::ffff:192.0.2.10) gives the IPv4 literal. Empty for any
// other family.
QString AddressLiteral(const sockaddr* address);

// The machine's own name when it is fully qualified, else the literal of
// our end of the connection. Empty when neither is known.
QString ChooseEhloName(const QString& canonicalHostName, const QString& localAddressLiteral);

// The canonical name of gethostname() (getaddrinfo with AI_CANONNAME: what
// /etc/hosts or DNS call this machine), looked up once for the process;
// empty when it cannot be found.
QString MachineCanonicalName();

}  // namespace lumopet::mail
