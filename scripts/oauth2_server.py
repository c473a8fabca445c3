#!/usr/bin/python3
"""An OAuth2 authorization server for Lumopet's tests, on loopback only.

It plays the provider of a desktop mail client's sign-in: the authorization
code flow with PKCE (S256) and a loopback redirect, refresh tokens (rotated
on every refresh with --rotate-refresh, as Microsoft does), and RFC 7662
introspection for Dovecot's `passdb { driver = oauth2 }`.  Every sign-in is
approved at once for the one configured user.

    oauth2_server.py --port 0 --ready-file F --user alice
                     [--access-lifetime SECONDS] [--rotate-refresh | --omit-refresh-token]

Endpoints:
    GET  /authorize     response_type=code, client_id, redirect_uri (http on
                        loopback), state, scope, code_challenge,
                        code_challenge_method=S256; answers 302 to
                        redirect_uri with code and state
    POST /token         grant_type=authorization_code (code, redirect_uri,
                        code_verifier, client_id) or refresh_token
                        (refresh_token, client_id); errors as RFC 6749 JSON
                        with HTTP 400
    POST /introspect    token=...; {"active": true, "username": ..., "exp": ...}
                        for a live access token, {"active": false} otherwise
    POST /admin/expire  every access token expires now
    POST /admin/revoke  every refresh token is revoked
    GET  /admin/stats   how many requests each endpoint had, the token
                        endpoint's by grant type

The port goes to the ready file (written whole, then renamed into place)
once the server listens; without --ready-file it is printed on stdout.
Tokens live in memory only and are never logged.
"""

import argparse
import base64
import hashlib
import ipaddress
import json
import os
import re
import secrets
import signal
import socket
import sys
import threading
import time
from dataclasses import dataclass, field
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote_plus, urlencode, urlsplit

PROG = "oauth2_server.py"
LOOPBACK = "127.0.0.1"

# RFC 6749 10.5 asks for short-lived codes; ten minutes is its ceiling.
CODE_LIFETIME = 600
# A form body larger than this is no sign-in.
MAX_BODY = 64 * 1024

# RFC 7636 4.1: the verifier's alphabet and length; an S256 challenge is the
# unpadded base64url of 32 bytes.
VERIFIER = re.compile(r"^[A-Za-z0-9._~-]{43,128}$")
S256_CHALLENGE = re.compile(r"^[A-Za-z0-9_-]{43}$")


class OAuthError(Exception):
    """An RFC 6749 error: `error` and a description, answered with status."""

    def __init__(self, error, description, status=HTTPStatus.BAD_REQUEST):
        super().__init__(description)
        self.error = error
        self.description = description
        self.status = status


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode("ascii")


def loopback_http(uri):
    """True for an http URI on this machine (RFC 8252 7.3), with no
    fragment or user part: the only redirects a desktop client gets."""
    try:
        parts = urlsplit(uri)
        parts.port  # raises on a port that is not a number
    except ValueError:
        return False
    if parts.scheme != "http" or parts.fragment or "@" in parts.netloc or not parts.hostname:
        return False
    if parts.hostname == "localhost":
        return True
    try:
        return ipaddress.ip_address(parts.hostname).is_loopback
    except ValueError:
        return False


def with_query(uri, params):
    """uri with params added to the query it may already have."""
    separator = "&" if urlsplit(uri).query else ("" if uri.endswith("?") else "?")
    return uri + separator + urlencode(params)


def single_values(query, where):
    """A parsed form or query as one value a name; RFC 6749 3.1 and 3.2 let
    no parameter appear twice."""
    values = {}
    for name, given in query.items():
        if len(given) > 1:
            raise OAuthError("invalid_request", f"{name} appears more than once in the {where}")
        values[name] = given[0]
    return values


@dataclass
class Code:
    client_id: str
    redirect_uri: str
    challenge: str
    scope: str
    expires: float
    used: bool = False
    # What the exchange of this code issued: revoked when it comes again
    # (RFC 6749 4.1.2), since a second use means someone else has it.
    access_tokens: list = field(default_factory=list)
    refresh_tokens: list = field(default_factory=list)


@dataclass
class AccessToken:
    client_id: str
    scope: str
    expires: float


@dataclass
class RefreshToken:
    client_id: str
    scope: str
    revoked: bool = False


class Provider:
    """The server's whole state, behind one lock: the request threads share it."""

    def __init__(self, user, access_lifetime, refresh_reply):
        self.user = user
        self.access_lifetime = access_lifetime
        self.refresh_reply = refresh_reply  # "same", "rotate" or "omit"
        self.lock = threading.Lock()
        self.codes = {}
        self.access = {}
        self.refresh = {}
        self.stats = {"authorize": 0,
                      "token": {"authorization_code": 0, "refresh_token": 0},
                      "introspect": 0}

    # -- /authorize --------------------------------------------------------

    def authorize(self, params):
        """The Location to send the browser to.  A request that names no
        usable client or redirect is refused here (400); anything else
        wrong goes back to the client through its redirect (RFC 6749
        4.1.2.1)."""
        with self.lock:
            self.stats["authorize"] += 1
        params = single_values(params, "query")
        client_id = params.get("client_id", "")
        redirect_uri = params.get("redirect_uri", "")
        if not client_id:
            raise OAuthError("invalid_request", "client_id is missing")
        if not loopback_http(redirect_uri):
            raise OAuthError("invalid_request", "redirect_uri must be http on the loopback address")

        reply = {}
        if params.get("response_type") != "code":
            reply = {"error": "unsupported_response_type",
                     "error_description": "only response_type=code is served"}
        elif params.get("code_challenge_method") != "S256":
            reply = {"error": "invalid_request",
                     "error_description": "PKCE with code_challenge_method=S256 is required"}
        elif not S256_CHALLENGE.match(params.get("code_challenge", "")):
            reply = {"error": "invalid_request",
                     "error_description": "code_challenge is not an S256 challenge"}
        else:
            code = secrets.token_urlsafe(32)
            with self.lock:
                self.codes[code] = Code(client_id, redirect_uri, params["code_challenge"],
                                        params.get("scope", ""), time.time() + CODE_LIFETIME)
            reply = {"code": code}
        if "state" in params:
            reply["state"] = params["state"]
        return with_query(redirect_uri, reply)

    # -- /token ------------------------------------------------------------

    def token(self, form, basic_client):
        grant_type = (form.get("grant_type") or [""])[0]
        with self.lock:
            by_grant = self.stats["token"]
            by_grant[grant_type] = by_grant.get(grant_type, 0) + 1
        form = single_values(form, "body")
        client_id = form.get("client_id") or basic_client
        if basic_client and form.get("client_id") and basic_client != form["client_id"]:
            raise OAuthError("invalid_request", "two different client_id values")
        if not grant_type:
            raise OAuthError("invalid_request", "grant_type is missing")
        if grant_type == "authorization_code":
            return self.exchange_code(form, client_id)
        if grant_type == "refresh_token":
            return self.refresh_access(form, client_id)
        raise OAuthError("unsupported_grant_type", f"grant_type {grant_type} is not served")

    def exchange_code(self, form, client_id):
        for name in ("code", "redirect_uri", "code_verifier"):
            if not form.get(name):
                raise OAuthError("invalid_request", f"{name} is missing")
        if not client_id:
            raise OAuthError("invalid_request", "client_id is missing")
        with self.lock:
            grant = self.codes.get(form["code"])
            if grant is None:
                raise OAuthError("invalid_grant", "unknown authorization code")
            if grant.used:
                for token in grant.access_tokens:
                    self.access.pop(token, None)
                for token in grant.refresh_tokens:
                    if token in self.refresh:
                        self.refresh[token].revoked = True
                raise OAuthError("invalid_grant", "the authorization code was used already")
            # One try: a code presented with a wrong verifier is spent too.
            grant.used = True
            if time.time() >= grant.expires:
                raise OAuthError("invalid_grant", "the authorization code has expired")
            if grant.client_id != client_id:
                raise OAuthError("invalid_grant", "the code was issued to another client")
            if grant.redirect_uri != form["redirect_uri"]:
                raise OAuthError("invalid_grant", "redirect_uri differs from the authorization request")
            verifier = form["code_verifier"]
            if not VERIFIER.match(verifier) or not secrets.compare_digest(s256(verifier), grant.challenge):
                raise OAuthError("invalid_grant", "code_verifier does not match the code_challenge")
            access = self.issue_access(client_id, grant.scope)
            refresh = self.issue_refresh(client_id, grant.scope)
            grant.access_tokens.append(access)
            grant.refresh_tokens.append(refresh)
            return self.token_reply(access, refresh, grant.scope)

    def refresh_access(self, form, client_id):
        if not form.get("refresh_token"):
            raise OAuthError("invalid_request", "refresh_token is missing")
        if not client_id:
            raise OAuthError("invalid_request", "client_id is missing")
        with self.lock:
            old = form["refresh_token"]
            held = self.refresh.get(old)
            if held is None or held.revoked:
                raise OAuthError("invalid_grant", "the refresh token is unknown or revoked")
            if held.client_id != client_id:
                raise OAuthError("invalid_grant", "the refresh token was issued to another client")
            access = self.issue_access(client_id, held.scope)
            refresh = old
            if self.refresh_reply == "rotate":
                held.revoked = True
                refresh = self.issue_refresh(client_id, held.scope)
            elif self.refresh_reply == "omit":
                refresh = None
            return self.token_reply(access, refresh, held.scope)

    def issue_access(self, client_id, scope):
        token = secrets.token_urlsafe(32)
        self.access[token] = AccessToken(client_id, scope, time.time() + self.access_lifetime)
        return token

    def issue_refresh(self, client_id, scope):
        token = secrets.token_urlsafe(32)
        self.refresh[token] = RefreshToken(client_id, scope)
        return token

    def token_reply(self, access, refresh, scope):
        reply = {"access_token": access, "token_type": "Bearer",
                 "expires_in": self.access_lifetime}
        if refresh is not None:
            reply["refresh_token"] = refresh
        if scope:
            reply["scope"] = scope
        return reply

    # -- /introspect -------------------------------------------------------

    def introspect(self, form):
        with self.lock:
            self.stats["introspect"] += 1
        form = single_values(form, "body")
        if not form.get("token"):
            raise OAuthError("invalid_request", "token is missing")
        with self.lock:
            held = self.access.get(form["token"])
            if held is None or time.time() >= held.expires:
                return {"active": False}
            return {"active": True, "username": self.user, "sub": self.user,
                    "exp": int(held.expires), "client_id": held.client_id,
                    "scope": held.scope, "token_type": "Bearer"}

    # -- test controls -----------------------------------------------------

    def expire_all(self):
        with self.lock:
            now = time.time()
            live = [token for token in self.access.values() if token.expires > now]
            for token in live:
                token.expires = now
            return {"expired": len(live)}

    def revoke_all(self):
        with self.lock:
            live = [token for token in self.refresh.values() if not token.revoked]
            for token in live:
                token.revoked = True
            return {"revoked": len(live)}

    def statistics(self):
        with self.lock:
            return json.loads(json.dumps(self.stats))


# ---------------------------------------------------------------------------
# HTTP

def basic_client_id(header):
    """The client_id of an Authorization: Basic header (RFC 6749 2.3.1), or ""."""
    if not header or not header.lower().startswith("basic "):
        return ""
    try:
        decoded = base64.b64decode(header[6:].strip(), validate=True).decode("utf-8")
    except (ValueError, UnicodeDecodeError):
        return ""
    return unquote_plus(decoded.split(":", 1)[0])


class Handler(BaseHTTPRequestHandler):
    server_version = "LumopetTestOAuth/1"
    protocol_version = "HTTP/1.1"

    @property
    def provider(self):
        return self.server.provider

    def log_message(self, format, *args):
        # Paths only: a query or body may hold a code or a token.
        if self.server.verbose:
            print(f"{PROG}: {self.command} {urlsplit(self.path).path}", file=sys.stderr, flush=True)

    def send_json(self, body, status=HTTPStatus.OK):
        data = json.dumps(body).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json;charset=UTF-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("Pragma", "no-cache")
        self.end_headers()
        self.wfile.write(data)

    def send_error_json(self, error):
        body = {"error": error.error, "error_description": error.description}
        self.send_json(body, error.status)

    def read_form(self):
        """The body as a parsed form; only x-www-form-urlencoded is taken."""
        length = self.headers.get("Content-Length")
        if length is None or not length.isdigit() or int(length) > MAX_BODY:
            raise OAuthError("invalid_request", "a form body with its Content-Length is required")
        body = self.rfile.read(int(length))
        kind = self.headers.get("Content-Type", "").split(";")[0].strip().lower()
        if kind != "application/x-www-form-urlencoded":
            raise OAuthError("invalid_request", "the body must be application/x-www-form-urlencoded")
        try:
            return parse_qs(body.decode("utf-8"), keep_blank_values=True, strict_parsing=False)
        except UnicodeDecodeError:
            raise OAuthError("invalid_request", "the body is not UTF-8")

    def do_GET(self):
        parts = urlsplit(self.path)
        try:
            if parts.path == "/authorize":
                location = self.provider.authorize(parse_qs(parts.query, keep_blank_values=True))
                self.send_response(HTTPStatus.FOUND)
                self.send_header("Location", location)
                self.send_header("Content-Length", "0")
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
            elif parts.path == "/admin/stats":
                self.send_json(self.provider.statistics())
            elif parts.path in POST_PATHS:
                self.refuse_method("POST")
            else:
                self.send_json({"error": "not_found"}, HTTPStatus.NOT_FOUND)
        except OAuthError as error:
            self.send_error_json(error)

    def do_POST(self):
        path = urlsplit(self.path).path
        try:
            if path == "/token":
                form = self.read_form()
                basic = basic_client_id(self.headers.get("Authorization"))
                self.send_json(self.provider.token(form, basic))
            elif path == "/introspect":
                self.send_json(self.provider.introspect(self.read_form()))
            elif path == "/admin/expire":
                self.discard_body()
                self.send_json(self.provider.expire_all())
            elif path == "/admin/revoke":
                self.discard_body()
                self.send_json(self.provider.revoke_all())
            elif path in GET_PATHS:
                self.discard_body()
                self.refuse_method("GET")
            else:
                self.discard_body()
                self.send_json({"error": "not_found"}, HTTPStatus.NOT_FOUND)
        except OAuthError as error:
            # The body may be unread; this connection cannot serve another.
            self.close_connection = True
            self.send_error_json(error)

    def discard_body(self):
        length = self.headers.get("Content-Length", "0")
        if length.isdigit() and int(length) <= MAX_BODY:
            self.rfile.read(int(length))
        else:
            self.close_connection = True

    def refuse_method(self, allowed):
        data = b'{"error": "method_not_allowed"}'
        self.send_response(HTTPStatus.METHOD_NOT_ALLOWED)
        self.send_header("Allow", allowed)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)


GET_PATHS = {"/authorize", "/admin/stats"}
POST_PATHS = {"/token", "/introspect", "/admin/expire", "/admin/revoke"}


class Server(ThreadingHTTPServer):
    daemon_threads = True


def make_server(provider, port=0, listen_fd=None, verbose=False):
    """The server on LOOPBACK:port, or on a listening socket it inherited
    (mail_servers.py binds one so that its port is known before this runs)."""
    if listen_fd is None:
        server = Server((LOOPBACK, port), Handler)
    else:
        server = Server((LOOPBACK, 0), Handler, bind_and_activate=False)
        server.socket.close()
        server.socket = socket.socket(fileno=listen_fd)
        server.server_address = server.socket.getsockname()
        server.server_name, server.server_port = server.server_address[:2]
    server.provider = provider
    server.verbose = verbose
    return server


def write_ready(path, port):
    tmp = f"{path}.{os.getpid()}.tmp"
    with open(tmp, "w") as f:
        f.write(f"{port}\n")
    os.replace(tmp, path)


def main():
    parser = argparse.ArgumentParser(prog=PROG, description="An OAuth2 authorization server "
                                     "on 127.0.0.1 for the tests' sign-ins.")
    parser.add_argument("--port", type=int, default=0, help="0 (the default) for a free one")
    parser.add_argument("--listen-fd", type=int, help=argparse.SUPPRESS)
    parser.add_argument("--ready-file", help="where to write the port once listening")
    parser.add_argument("--user", required=True, help="the user every sign-in approves")
    parser.add_argument("--access-lifetime", type=int, default=3600, metavar="SECONDS")
    refresh = parser.add_mutually_exclusive_group()
    refresh.add_argument("--rotate-refresh", action="store_true",
                         help="a refresh answers a new refresh token and revokes the old one")
    refresh.add_argument("--omit-refresh-token", action="store_true",
                         help="a refresh answers no refresh token (the old one stays good)")
    parser.add_argument("--verbose", action="store_true", help="log each request's method and path")
    args = parser.parse_args()
    if args.access_lifetime < 0:
        parser.error("--access-lifetime must not be negative")

    reply = "rotate" if args.rotate_refresh else "omit" if args.omit_refresh_token else "same"
    server = make_server(Provider(args.user, args.access_lifetime, reply),
                         args.port, args.listen_fd, args.verbose)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    port = server.server_address[1]
    if args.ready_file:
        write_ready(args.ready_file, port)
    else:
        print(port, flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
