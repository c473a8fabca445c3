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
import json
import os
import signal
import socket
import ssl
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_servers  # noqa: E402  (the throwaway CA and certificate)
from strict_smtp_server import Lines, Record  # noqa: E402

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

    def read_answer(self):
        line = self.lines.read()
        if line is None or line == b"*":
            raise ValueError("cancelled")
        return line

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
                initial = self.read_answer()
            response = base64.b64decode(initial, validate=True)
        except (ValueError, binascii.Error):
            self.send("-ERR [AUTH] Malformed response")
            return
        # Written down whole: the test checks what crossed.
        self.server.record.add(event="auth_response", mechanism=mechanism, tls=self.tls,
                               response=response.decode("latin-1"))
        ok = False
        if mechanism == "XOAUTH2":
            fields = dict(part.split("=", 1) for part in response.decode("utf-8", "replace").split("\x01") if "=" in part)
            user = fields.get("user", "")
            token = fields.get("auth", "")
            ok = token.startswith("Bearer ") and self.server.tokens.get(user) == token[len("Bearer "):]
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


class Server:
    def __init__(self, args):
        self.mode = args.mode
        self.accounts = dict(account.split(":", 1) for account in args.account)
        self.tokens = dict(token.split(":", 1) for token in args.token)
        os.makedirs(args.dir, exist_ok=True)
        self.record = Record(os.path.join(args.dir, "record.jsonl"))
        self.layout = mail_servers.Layout(args.dir)
        self.tls_context = None
        if self.mode == "stls":
            mail_servers.make_certificates(self.layout)
            self.tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            self.tls_context.load_cert_chain(self.layout.cert, self.layout.key)
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)

    def serve(self):
        while True:
            try:
                sock, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.talk, args=(sock,), daemon=True).start()

    def talk(self, sock):
        session = Session(self, sock)
        try:
            session.run()
        except (OSError, ssl.SSLError) as error:
            self.record.add(event="error", text=str(error))
        finally:
            try:
                session.sock.close()
            except OSError:
                pass


def main():
    parser = argparse.ArgumentParser(prog="strict_pop3_server.py")
    parser.add_argument("--mode", required=True, choices=["stls", "no-tls"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--account", action="append", default=[])
    parser.add_argument("--token", action="append", default=[])
    parser.add_argument("--lifetime", type=float, default=120.0)
    args = parser.parse_args()

    server = Server(args)

    def end(*_):
        os._exit(0)

    signal.signal(signal.SIGTERM, end)
    threading.Timer(args.lifetime, end).start()

    def watch_stdin():
        while sys.stdin.buffer.read(4096):
            pass
        end()

    threading.Thread(target=watch_stdin, daemon=True).start()
    print(json.dumps({"port": server.listener.getsockname()[1],
                      "ca": server.layout.ca if server.tls_context else "",
                      "record": server.record.path}), flush=True)
    server.serve()


if __name__ == "__main__":
    main()
