#!/usr/bin/python3
"""A strict SMTP server for the tests of Lumopet's sending, on loopback.

It holds the client to what the servers of providers and companies demand,
and writes down what the client did, one JSON object a line, in the record
file: every EHLO name, STARTTLS, every AUTH (and whether it came over TLS),
MAIL, RCPT, and each message it took whole.

    strict_smtp_server.py --mode MODE --dir DIR [--account USER:PASSWORD]
                          [--token USER:TOKEN] [--helo-check delayed|immediate]
                          [--refuse STEP=REPLY ...] [--lifetime SECONDS]

Modes:
  postfix           no AUTH, no STARTTLS; takes mail from anyone
  auth-without-tls  offers AUTH PLAIN LOGIN on a plain connection, no
                    STARTTLS; takes mail with or without a login
  starttls-auth     offers STARTTLS; AUTH only after it (AUTH before it
                    gets "530 5.7.0 Must issue a STARTTLS command first");
                    MAIL only after a login, as a submission server
  silent            accepts the connection and never says a word
  stall-data        answers up to "354", then reads nothing more
  stall-end         reads the whole message, keeps it, never answers

Every mode checks the EHLO/HELO name as Postfix's
reject_non_fqdn_helo_hostname does: a name with a dot or an address literal
("[192.0.2.1]", "[IPv6:...]"), else "504 5.5.2 <name>: Helo command rejected:
need fully-qualified hostname". Postfix gives that answer to RCPT
(smtpd_delay_reject, the default: --helo-check delayed) or, with
--helo-check immediate, to the EHLO itself.

--token USER:TOKEN adds XOAUTH2 and OAUTHBEARER to the AUTH offer; XOAUTH2
takes that access token for that user, and the record keeps what the client
sent with it ("response"). OAUTHBEARER is always refused, so that a client
that picks it shows in the record.

--refuse STEP=REPLY puts REPLY where the step's own answer would be; STEP is
one of helo, auth, mail, rcpt, data (the answer to DATA) and end (the answer
after the message's final ".").

Once listening it prints one JSON line: {"port": N, "ca": FILE, "record":
FILE}. It ends after --lifetime seconds (default 120), when its standard
input closes (the test that started it has gone), or on SIGTERM.
Listens on 127.0.0.1 only.
"""

import argparse
import base64
import binascii
import ipaddress
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from strict_server_common import MAX_LINE, Lines, LoopbackServer, serve_until_ended, xoauth2_login  # noqa: E402

HOSTNAME = "localhost"
STEPS = ("helo", "auth", "mail", "rcpt", "data", "end")
LABEL = re.compile(r"^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$")
# Small buffers in stall-data mode: the client's message must not fit in
# what the kernel takes on its own.
STALL_RECEIVE_BUFFER = 4096


def valid_helo(name):
    """Postfix's reject_non_fqdn_helo_hostname with
    reject_invalid_helo_hostname: an address literal, or a name of two or
    more labels that is not an address written bare."""
    if name.startswith("[") and name.endswith("]"):
        inner = name[1:-1]
        try:
            if inner[:5].lower() == "ipv6:":
                ipaddress.IPv6Address(inner[5:])
            else:
                ipaddress.IPv4Address(inner)
            return True
        except ValueError:
            return False
    host = name[:-1] if name.endswith(".") else name
    labels = host.split(".")
    if len(labels) < 2 or not all(LABEL.match(label) for label in labels):
        return False
    return not labels[-1].isdigit()


class Session:
    def __init__(self, server, sock, peer):
        self.server = server
        self.sock = sock
        self.peer = peer
        self.lines = Lines(sock)
        self.tls = False
        self.reset_greeting()

    def reset_greeting(self):
        # RFC 3207 4.2: after STARTTLS the client starts over with EHLO.
        self.helo = None
        self.authenticated = False
        self.reset_mail()

    def reset_mail(self):
        self.mail_from = None
        self.rcpt_to = []

    def send(self, *lines):
        data = "".join(line + "\r\n" for line in lines).encode()
        self.sock.sendall(data)

    def refusal(self, step):
        return self.server.refusals.get(step)

    def offers_starttls(self):
        return self.server.mode == "starttls-auth" and not self.tls

    def offers_auth(self):
        if self.server.mode == "auth-without-tls":
            return True
        return self.server.mode == "starttls-auth" and self.tls

    def run(self):
        record = self.server.record
        record.add(event="connect", peer=self.peer[0])
        if self.server.mode == "silent":
            # Reads and drops whatever comes, answers nothing.
            while self.sock.recv(65536):
                pass
            return
        self.send(f"220 {HOSTNAME} ESMTP strict test server")
        while True:
            line = self.lines.read()
            if line is None:
                record.add(event="disconnect")
                return
            if len(line) > MAX_LINE:
                self.send("500 5.5.0 Error: line too long")
                continue
            text = line.decode("utf-8", "replace")
            verb, _, argument = text.partition(" ")
            verb = verb.upper()
            handler = getattr(self, "do_" + verb, None)
            if handler is None:
                self.send("502 5.5.2 Error: command not recognized")
                continue
            if handler(argument.strip()) == "quit":
                return

    # -- greeting -----------------------------------------------------------

    def greet(self, argument, extended):
        name = argument
        accepted = bool(name) and valid_helo(name)
        self.server.record.add(event="ehlo" if extended else "helo", name=name, accepted=accepted, tls=self.tls)
        if not name:
            self.send("501 5.5.4 Syntax: EHLO hostname")
            return
        refused = self.refusal("helo")
        if refused:
            self.send(refused)
            return
        if not accepted and self.server.helo_check == "immediate":
            self.send(f"504 5.5.2 <{name}>: Helo command rejected: need fully-qualified hostname")
            return
        self.reset_greeting()
        self.helo = name
        if not extended:
            self.send(f"250 {HOSTNAME}")
            return
        lines = [HOSTNAME, "PIPELINING", "SIZE 67108864", "8BITMIME", "ENHANCEDSTATUSCODES"]
        if self.offers_starttls():
            lines.append("STARTTLS")
        if self.offers_auth():
            lines.append("AUTH PLAIN LOGIN" + (" XOAUTH2 OAUTHBEARER" if self.server.tokens else ""))
        self.send(*[f"250-{item}" for item in lines[:-1]], f"250 {lines[-1]}")

    def do_EHLO(self, argument):
        self.greet(argument, True)

    def do_HELO(self, argument):
        self.greet(argument, False)

    def do_STARTTLS(self, argument):
        if not self.offers_starttls():
            self.send("502 5.5.1 Error: command not implemented")
            return
        self.server.record.add(event="starttls")
        self.send("220 2.0.0 Ready to start TLS")
        # Anything the client sent after STARTTLS in the clear is dropped,
        # as Postfix does (CVE-2011-0411).
        self.lines.buffer = b""
        self.sock = self.server.tls_context.wrap_socket(self.sock, server_side=True)
        self.lines = Lines(self.sock)
        self.tls = True
        self.reset_greeting()

    # -- login ---------------------------------------------------------------

    def do_AUTH(self, argument):
        mechanism, _, initial = argument.partition(" ")
        mechanism = mechanism.upper()
        # Written down before anything else: a password that came in the
        # clear has crossed, whatever we answer.
        self.server.record.add(event="auth", mechanism=mechanism, tls=self.tls)
        if self.server.mode == "starttls-auth" and not self.tls:
            self.send("530 5.7.0 Must issue a STARTTLS command first")
            return
        if not self.offers_auth():
            self.send("503 5.5.1 Error: authentication not enabled")
            return
        if self.helo is None:
            self.send("503 5.5.1 Error: send HELO/EHLO first")
            return
        if self.authenticated:
            self.send("503 5.5.1 Error: already authenticated")
            return
        try:
            if mechanism == "PLAIN":
                if not initial:
                    self.send("334 ")
                    initial = self.lines.answer()
                _, user, password = base64.b64decode(initial, validate=True).split(b"\0", 2)
            elif mechanism == "XOAUTH2" and self.server.tokens:
                if not initial:
                    self.send("334 ")
                    initial = self.lines.answer()
                response = base64.b64decode(initial, validate=True)
                self.server.record.add(event="auth_response", mechanism=mechanism, tls=self.tls,
                                       response=response.decode("latin-1"))
                # Checked against the tokens, not the passwords.
                user, token_ok = xoauth2_login(response, self.server.tokens)
                user = user.encode()
            elif mechanism == "LOGIN":
                if initial:
                    user = base64.b64decode(initial, validate=True)
                else:
                    self.send("334 VXNlcm5hbWU6")
                    user = base64.b64decode(self.lines.answer(), validate=True)
                self.send("334 UGFzc3dvcmQ6")
                password = base64.b64decode(self.lines.answer(), validate=True)
            else:
                self.send("535 5.7.8 Error: authentication failed: Invalid authentication mechanism")
                return
        except (ValueError, binascii.Error, TypeError):
            self.send("501 5.5.2 Error: authentication failed: malformed initial response")
            return
        if mechanism == "XOAUTH2":
            ok = token_ok
        else:
            ok = self.server.accounts.get(user.decode("utf-8", "replace")) == password.decode("utf-8", "replace")
        self.server.record.add(event="auth_result", user=user.decode("utf-8", "replace"), ok=ok, tls=self.tls)
        refused = self.refusal("auth")
        if refused:
            self.send(refused)
            return
        if not ok:
            self.send("535 5.7.8 Error: authentication failed: authentication failure")
            return
        self.authenticated = True
        self.send("235 2.7.0 Authentication successful")

    # -- the mail ------------------------------------------------------------

    def do_MAIL(self, argument):
        match = re.match(r"(?i)FROM:\s*<([^>]*)>", argument)
        if self.helo is None:
            self.send("503 5.5.1 Error: send HELO/EHLO first")
            return
        if not match:
            self.send("501 5.5.4 Syntax: MAIL FROM:<address>")
            return
        self.server.record.add(event="mail", sender=match.group(1), tls=self.tls)
        if self.server.mode == "starttls-auth" and not self.authenticated:
            self.send("530 5.7.0 Authentication required")
            return
        refused = self.refusal("mail")
        if refused:
            self.send(refused)
            return
        self.reset_mail()
        self.mail_from = match.group(1)
        self.send("250 2.1.0 Ok")

    def do_RCPT(self, argument):
        match = re.match(r"(?i)TO:\s*<([^>]+)>", argument)
        if self.mail_from is None:
            self.send("503 5.5.1 Error: need MAIL command")
            return
        if not match:
            self.send("501 5.5.4 Syntax: RCPT TO:<address>")
            return
        address = match.group(1)
        self.server.record.add(event="rcpt", recipient=address)
        if not valid_helo(self.helo):
            self.send(f"504 5.5.2 <{self.helo}>: Helo command rejected: need fully-qualified hostname")
            return
        refused = self.refusal("rcpt")
        if refused:
            self.send(refused)
            return
        self.rcpt_to.append(address)
        self.send("250 2.1.5 Ok")

    def do_DATA(self, argument):
        if not self.rcpt_to:
            self.send("554 5.5.1 Error: no valid recipients")
            return
        refused = self.refusal("data")
        if refused:
            self.send(refused)
            return
        self.send("354 End data with <CR><LF>.<CR><LF>")
        if self.server.mode == "stall-data":
            self.server.record.add(event="data_stalled")
            # Not another byte read: the client's send blocks once the
            # small buffers are full.
            while not self.server.stopping.wait(1):
                pass
            return
        size = 0
        while True:
            line = self.lines.read()
            if line is None:
                # The connection ended before the final ".": RFC 5321
                # 4.1.1.4, no message.
                self.server.record.add(event="data_cut", bytes=size)
                return "quit"
            if line == b".":
                break
            size += len(line) + 2
        self.server.record.add(event="message", bytes=size, sender=self.mail_from, recipients=self.rcpt_to,
                               tls=self.tls, authenticated=self.authenticated)
        self.reset_mail()
        if self.server.mode == "stall-end":
            while not self.server.stopping.wait(1):
                pass
            return "quit"
        refused = self.refusal("end")
        if refused:
            self.send(refused)
            return
        self.send("250 2.0.0 Ok: queued")

    def do_RSET(self, argument):
        self.reset_mail()
        self.send("250 2.0.0 Ok")

    def do_NOOP(self, argument):
        self.send("250 2.0.0 Ok")

    def do_QUIT(self, argument):
        self.send("221 2.0.0 Bye")
        return "quit"


class Server(LoopbackServer):
    def __init__(self, args):
        self.helo_check = args.helo_check
        self.refusals = {}
        for item in args.refuse:
            step, _, reply = item.partition("=")
            if step not in STEPS or not re.match(r"^[45][0-9][0-9][ -]", reply):
                raise SystemExit(f"strict_smtp_server.py: --refuse {item!r}: STEP=REPLY with a 4xx/5xx reply")
            self.refusals[step] = reply
        super().__init__(args, tls=args.mode == "starttls-auth",
                         receive_buffer=STALL_RECEIVE_BUFFER if args.mode == "stall-data" else None)

    def session(self, sock, peer):
        return Session(self, sock, peer)


def main():
    parser = argparse.ArgumentParser(prog="strict_smtp_server.py")
    parser.add_argument("--mode", required=True,
                        choices=["postfix", "auth-without-tls", "starttls-auth", "silent", "stall-data", "stall-end"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--account", action="append", default=[])
    parser.add_argument("--token", action="append", default=[])
    parser.add_argument("--helo-check", choices=["delayed", "immediate"], default="delayed")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--lifetime", type=float, default=120.0)
    args = parser.parse_args()

    serve_until_ended(Server(args), args.lifetime)


if __name__ == "__main__":
    main()
