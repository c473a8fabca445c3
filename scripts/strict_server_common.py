"""What strict_smtp_server.py and strict_pop3_server.py share: the record
file, lines off a socket, the XOAUTH2 response, the loopback listener with
its throwaway certificate, and the way each runs until it is ended."""

import json
import os
import signal
import socket
import ssl
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_servers  # noqa: E402  (the throwaway CA and certificate)

# A line longer than this is refused, as RFC 5321 4.5.3.1.4 allows.
MAX_LINE = 1000


class Record:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        open(path, "w").close()

    def add(self, **event):
        with self.lock, open(self.path, "a") as f:
            f.write(json.dumps(event) + "\n")
            f.flush()
            os.fsync(f.fileno())


class Lines:
    """Lines off a socket, CRLF taken off; the socket may change to TLS."""

    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def read(self):
        while b"\n" not in self.buffer:
            if len(self.buffer) > MAX_LINE + 2:
                line, self.buffer = self.buffer, b""
                return line
            chunk = self.sock.recv(65536)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.rstrip(b"\r")

    def answer(self):
        """The client's answer to a SASL challenge; "*" cancels."""
        line = self.read()
        if line is None or line == b"*":
            raise ValueError("cancelled")
        return line


def xoauth2_login(response, tokens):
    """(user, whether the token is the one tokens holds for that user) of an
    XOAUTH2 initial response, "user=U\\x01auth=Bearer T\\x01\\x01"."""
    fields = dict(part.split("=", 1) for part in response.decode("utf-8", "replace").split("\x01") if "=" in part)
    user = fields.get("user", "")
    token = fields.get("auth", "")
    known = tokens.get(user)
    return user, token.startswith("Bearer ") and known is not None and known == token[len("Bearer "):]


class LoopbackServer:
    """The accounts, tokens, record and certificate of args, and a listener on
    127.0.0.1 that gives each client a thread and a session(sock, peer)."""

    def __init__(self, args, tls, receive_buffer=None):
        self.mode = args.mode
        self.accounts = dict(account.split(":", 1) for account in args.account)
        self.tokens = dict(token.split(":", 1) for token in args.token)
        os.makedirs(args.dir, exist_ok=True)
        self.record = Record(os.path.join(args.dir, "record.jsonl"))
        self.layout = mail_servers.Layout(args.dir)
        self.tls_context = None
        if tls:
            mail_servers.make_certificates(self.layout)
            self.tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            self.tls_context.load_cert_chain(self.layout.cert, self.layout.key)
        self.stopping = threading.Event()
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if receive_buffer:
            self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)

    def session(self, sock, peer):
        raise NotImplementedError

    def serve(self):
        while not self.stopping.is_set():
            try:
                sock, peer = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.talk, args=(sock, peer), daemon=True).start()

    def talk(self, sock, peer):
        session = self.session(sock, peer)
        try:
            session.run()
        except (OSError, ssl.SSLError) as error:
            self.record.add(event="error", text=str(error))
        finally:
            try:
                session.sock.close()
            except OSError:
                pass


def serve_until_ended(server, lifetime):
    """Prints {"port", "ca", "record"} and serves until lifetime seconds
    have passed, standard input closes (the test that started the server
    has gone) or SIGTERM comes."""

    def end(*_):
        server.stopping.set()
        os._exit(0)

    signal.signal(signal.SIGTERM, end)
    threading.Timer(lifetime, end).start()

    def watch_stdin():
        while sys.stdin.buffer.read(4096):
            pass
        end()

    threading.Thread(target=watch_stdin, daemon=True).start()
    print(json.dumps({"port": server.listener.getsockname()[1],
                      "ca": server.layout.ca if server.tls_context else "",
                      "record": server.record.path}), flush=True)
    server.serve()
