#!/usr/bin/python3
"""A small POP3 server for the tests of Lumopet's logins, on loopback.

It offers SASL logins (PLAIN, XOAUTH2 and OAUTHBEARER, RFC 5034) and writes
down every AUTH, whether it came over TLS, and what the client sent with
it, one JSON object a line, in the record file, as strict_smtp_server.py
does for SMTP. Only the login is real: the mailbox is always empty.

    strict_pop3_server.py --mode MODE --dir DIR [--account USER:PASSWORD]
                          [--token USER:TOKEN] [--lifetime SECONDS]

Modes:
  stls     offers STLS; AUTH only after it ("-ERR" before), as Dovecot
           does with disable_plaintext_auth
  no-tls   no STLS; offers AUTH on the plain connection

A refused token gets "-ERR [AUTH] Authentication failed." A token is only
taken for XOAUTH2; OAUTHBEARER is offered and always refused, so that a
client that picks it shows in the record.

Once listening it prints one JSON line: {"port": N, "ca": FILE, "record":
FILE}. It ends after --lifetime seconds (default 120), when its standard
input closes, or on SIGTERM. Listens on 127.0.0.1 only.
"""

import argparse
import base64
import binascii
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from strict_server_common import Lines, LoopbackServer, serve_until_ended, xoauth2_login  # noqa: E402

MECHANISMS = "PLAIN XOAUTH2 OAUTHBEARER"


class Session:
    def __init__(self, server, sock):
        self.server = server
        self.sock = sock
        self.lines = Lines(sock)
        self.tls = False

    def send(self, *lines):
        self.sock.sendall("".join(line + "\r\n" for line in lines).encode())

    def may_log_in(self):
        return self.tls or self.server.mode == "no-tls"

    def run(self):
        self.server.record.add(event="connect")
        self.send("+OK strict test server ready")
        while True:
            line = self.lines.read()
            if line is None:
                self.server.record.add(event="disconnect")
                return
            verb, _, argument = line.decode("utf-8", "replace").partition(" ")
            handler = getattr(self, "do_" + verb.upper(), None)
            if handler is None:
                self.send("-ERR Unknown command")
                continue
            if handler(argument.strip()) == "quit":
                return

    def do_CAPA(self, argument):
        lines = ["+OK", "UIDL", "PIPELINING"]
        if self.server.mode == "stls" and not self.tls:
            lines.append("STLS")
        if self.may_log_in():
            lines.append("SASL " + MECHANISMS)
        self.send(*lines, ".")

    def do_STLS(self, argument):
        if self.server.mode != "stls" or self.tls:
            self.send("-ERR STLS not offered")
            return
        self.server.record.add(event="stls")
        self.send("+OK Begin TLS negotiation now")
        self.lines.buffer = b""
        self.sock = self.server.tls_context.wrap_socket(self.sock, server_side=True)
        self.lines = Lines(self.sock)
        self.tls = True

    def do_USER(self, argument):
        self.server.record.add(event="user", tls=self.tls)
        self.send("-ERR [AUTH] Plaintext authentication disallowed")

    def do_PASS(self, argument):
        self.server.record.add(event="pass", tls=self.tls)
        self.send("-ERR [AUTH] Plaintext authentication disallowed")

    def do_AUTH(self, argument):
        mechanism, _, initial = argument.partition(" ")
        mechanism = mechanism.upper()
        if not mechanism:
            self.send("+OK", *MECHANISMS.split(), ".")
            return
        self.server.record.add(event="auth", mechanism=mechanism, tls=self.tls)
        if not self.may_log_in():
            self.send("-ERR [AUTH] Plaintext authentication disallowed on non-secure (SSL/TLS) connections.")
            return
        try:
            if not initial or initial == "=":
                self.send("+ ")
                initial = self.lines.answer()
            response = base64.b64decode(initial, validate=True)
        except (ValueError, binascii.Error):
            self.send("-ERR [AUTH] Malformed response")
            return
        # Written down whole: the test checks what crossed.
        self.server.record.add(event="auth_response", mechanism=mechanism, tls=self.tls,
                               response=response.decode("latin-1"))
        ok = False
        if mechanism == "XOAUTH2":
            ok = xoauth2_login(response, self.server.tokens)[1]
        elif mechanism == "PLAIN":
            parts = response.split(b"\0")
            ok = len(parts) == 3 and self.server.accounts.get(parts[1].decode()) == parts[2].decode()
        if not ok:
            self.send("-ERR [AUTH] Authentication failed.")
            return
        self.send("+OK Logged in.")

    def do_STAT(self, argument):
        self.send("+OK 0 0")

    def do_LIST(self, argument):
        self.send("+OK 0 messages", ".")

    def do_UIDL(self, argument):
        self.send("+OK", ".")

    def do_NOOP(self, argument):
        self.send("+OK")

    def do_QUIT(self, argument):
        self.send("+OK Logging out.")
        return "quit"


class Server(LoopbackServer):
    def __init__(self, args):
        super().__init__(args, tls=args.mode == "stls")

    def session(self, sock, peer):
        return Session(self, sock)


def main():
    parser = argparse.ArgumentParser(prog="strict_pop3_server.py")
    parser.add_argument("--mode", required=True, choices=["stls", "no-tls"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--account", action="append", default=[])
    parser.add_argument("--token", action="append", default=[])
    parser.add_argument("--lifetime", type=float, default=120.0)
    args = parser.parse_args()

    serve_until_ended(Server(args), args.lifetime)


if __name__ == "__main__":
    main()
