#!/usr/bin/python3
"""Tests of scripts/oauth2_server.py and tests/scripts/oauth_browser.py over
real HTTP, each server started as the tests' C++ helpers start it."""

import base64
import hashlib
import json
import os
import secrets
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.error
import urllib.request
from urllib.parse import parse_qs, urlencode, urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "..", "..", "scripts", "oauth2_server.py")
BROWSER = os.path.join(HERE, "oauth_browser.py")
PYTHON = "/usr/bin/python3"
REDIRECT = "http://127.0.0.1:5/cb"


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


OPENER = urllib.request.build_opener(NoRedirect)


def challenge_of(verifier):
    return base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()


def authorization(verifier, **overrides):
    """An authorization request's parameters, overrides of None left out."""
    params = {"response_type": "code", "client_id": "c1", "redirect_uri": REDIRECT, "state": "s1",
              "scope": "mail", "code_challenge": challenge_of(verifier), "code_challenge_method": "S256"}
    params.update(overrides)
    return {k: v for k, v in params.items() if v is not None}


class Running:
    """One server process with its own options, stopped on close()."""

    def __init__(self, *options):
        self.dir = tempfile.TemporaryDirectory()
        ready = os.path.join(self.dir.name, "ready")
        self.process = subprocess.Popen([PYTHON, SERVER, "--port", "0", "--ready-file", ready,
                                         "--user", "alice", *options])
        deadline = time.monotonic() + 10
        while not os.path.exists(ready):
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError("the server did not start")
            time.sleep(0.02)
        with open(ready) as f:
            self.url = f"http://127.0.0.1:{int(f.read())}"

    def close(self):
        self.process.terminate()
        self.process.wait(5)
        self.dir.cleanup()

    def request(self, request):
        try:
            with OPENER.open(request, timeout=5) as reply:
                return reply.status, reply.headers, reply.read()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read()

    def get(self, path, params=None):
        """(status, headers, body) of a GET; redirects are not followed."""
        return self.request(self.url + path + ("?" + urlencode(params) if params is not None else ""))

    def post(self, path, form=None, content_type="application/x-www-form-urlencoded"):
        """(status, JSON body) of a POST of form (a dict, or pairs)."""
        status, _, body = self.request(urllib.request.Request(
            self.url + path, data=urlencode(form or {}).encode(), headers={"Content-Type": content_type}))
        return status, json.loads(body)

    def authorize(self, verifier, **overrides):
        """The redirect an authorization request got, and its parameters."""
        status, headers, _ = self.get("/authorize", authorization(verifier, **overrides))
        assert status == 302, status
        location = headers["Location"]
        return location, {k: v[0] for k, v in parse_qs(urlsplit(location).query).items()}

    def code(self, verifier):
        return self.authorize(verifier)[1]["code"]

    def exchange(self, issued, verifier, **overrides):
        form = {"grant_type": "authorization_code", "code": issued, "redirect_uri": REDIRECT,
                "code_verifier": verifier, "client_id": "c1"}
        form.update(overrides)
        return self.post("/token", {k: v for k, v in form.items() if v is not None})

    def sign_in(self):
        verifier = secrets.token_urlsafe(48)
        status, tokens = self.exchange(self.code(verifier), verifier)
        assert status == 200, tokens
        return tokens

    def refresh(self, token, client_id="c1"):
        return self.post("/token", {"grant_type": "refresh_token", "refresh_token": token,
                                    "client_id": client_id})

    def active(self, token):
        return self.post("/introspect", {"token": token})[1]["active"]


class OneServer(unittest.TestCase):
    """The test class's own server, started with its OPTIONS."""
    OPTIONS = ()

    @classmethod
    def setUpClass(cls):
        cls.server = Running(*cls.OPTIONS)

    @classmethod
    def tearDownClass(cls):
        cls.server.close()


class AuthorizeTest(OneServer):
    def test_a_bad_request_is_refused_through_the_redirect_only_when_that_is_loopback_http(self):
        verifier = secrets.token_urlsafe(48)
        rows = [  # name, change, error, or None: 400 without a redirect
            ("no client", {"client_id": ""}, None),
            ("no redirect", {"redirect_uri": None}, None),
            ("https", {"redirect_uri": "https://127.0.0.1:5/cb"}, None),
            ("remote host", {"redirect_uri": "http://mail.example.com/cb"}, None),
            ("loopback-looking name", {"redirect_uri": "http://127.0.0.1.example.com/cb"}, None),
            ("user part", {"redirect_uri": "http://evil.example@127.0.0.1:5/cb"}, None),
            ("fragment", {"redirect_uri": REDIRECT + "#x"}, None),
            ("bad port", {"redirect_uri": "http://127.0.0.1:x/cb"}, None),
            ("implicit flow", {"response_type": "token"}, "unsupported_response_type"),
            ("plain PKCE", {"code_challenge_method": "plain", "code_challenge": verifier}, "invalid_request"),
            ("no method", {"code_challenge_method": None}, "invalid_request"),
            ("no challenge", {"code_challenge": None}, "invalid_request"),
            ("short challenge", {"code_challenge": "abc"}, "invalid_request"),
        ]
        for name, change, error in rows:
            with self.subTest(name):
                status, headers, body = self.server.get("/authorize", authorization(verifier, **change))
                if error is None:
                    self.assertEqual((status, headers["Location"]), (400, None))
                    self.assertEqual(json.loads(body)["error"], "invalid_request")
                    continue
                self.assertEqual(status, 302)
                params = parse_qs(urlsplit(headers["Location"]).query)
                self.assertEqual((params.get("error"), params.get("state")), ([error], ["s1"]))
                self.assertNotIn("code", params)

    def test_loopback_redirects_get_a_code_and_keep_their_own_query(self):
        verifier = secrets.token_urlsafe(48)
        for redirect in ("http://localhost:5/", "http://[::1]:5/", "http://127.0.0.1:5/cb?account=2"):
            with self.subTest(redirect):
                location, params = self.server.authorize(verifier, redirect_uri=redirect)
                self.assertTrue(location.startswith(redirect.split("?")[0] + "?"), location)
                self.assertEqual(params["state"], "s1")
                self.assertTrue(params["code"])
                if "account=2" in redirect:
                    self.assertEqual(params["account"], "2")

    def test_the_browser_logs_the_call_and_fails_where_the_server_sends_it_nowhere(self):
        # Its way through an approved sign-in to the program's listener:
        # oauth2_flow_tests (OAuth2Flow.FirstSignIn...).
        refused = authorization(secrets.token_urlsafe(48), redirect_uri="https://x.example/")
        log = os.path.join(self.server.dir.name, "browser.log")
        for url in (self.server.url + "/authorize?" + urlencode(refused), "https://accounts.example.com/authorize"):
            with self.subTest(url):
                if os.path.exists(log):
                    os.unlink(log)
                result = subprocess.run([PYTHON, BROWSER, url], env={**os.environ, "OAUTH_BROWSER_LOG": log},
                                        capture_output=True, timeout=20)
                with open(log) as f:
                    self.assertEqual((result.returncode, f.read().splitlines()), (1, [url]))


class TokenTest(OneServer):
    OPTIONS = ("--access-lifetime", "100")

    def test_an_exchange_that_does_not_match_its_request_is_refused(self):
        rows = [
            ("wrong verifier", {"code_verifier": secrets.token_urlsafe(48)}, "invalid_grant"),
            ("verifier too short", {"code_verifier": "abc"}, "invalid_grant"),
            ("other redirect", {"redirect_uri": "http://127.0.0.1:6/cb"}, "invalid_grant"),
            ("other client", {"client_id": "c2"}, "invalid_grant"),
            ("unknown code", {"code": "nothing-issued"}, "invalid_grant"),
            ("no verifier", {"code_verifier": None}, "invalid_request"),
            ("no client", {"client_id": None}, "invalid_request"),
            ("no grant type", {"grant_type": None}, "invalid_request"),
            ("password grant", {"grant_type": "password"}, "unsupported_grant_type"),
        ]
        for name, change, error in rows:
            with self.subTest(name):
                verifier = secrets.token_urlsafe(48)
                status, body = self.server.exchange(self.server.code(verifier), verifier, **change)
                self.assertEqual((status, body["error"]), (400, error))
                self.assertNotIn("access_token", body)

    def test_a_request_of_the_wrong_form_method_or_path_is_refused(self):
        rows = [  # name, request, status
            ("JSON form", lambda: self.server.post("/token", {"grant_type": "authorization_code", "code": "c"},
                                                   content_type="application/json"), 400),
            ("parameter twice", lambda: self.server.post("/token", [
                ("grant_type", "refresh_token"), ("refresh_token", "a"), ("refresh_token", "b"), ("client_id", "c1")]), 400),
            ("introspection without a token", lambda: self.server.post("/introspect", {}), 400),
            ("GET of the token endpoint", lambda: self.server.get("/token"), 405),
            ("POST of the stats", lambda: self.server.post("/admin/stats"), 405),
            ("unknown path", lambda: self.server.get("/nothing"), 404),
        ]
        for name, request, status in rows:
            with self.subTest(name):
                reply = request()
                self.assertEqual(reply[0], status)
                if status == 400:
                    self.assertEqual(reply[1]["error"], "invalid_request")

    def test_a_code_serves_once_and_its_second_use_revokes_what_the_first_got(self):
        verifier = secrets.token_urlsafe(48)
        code = self.server.code(verifier)
        status, tokens = self.server.exchange(code, verifier)
        self.assertEqual(status, 200)
        self.assertEqual((tokens["token_type"], tokens["expires_in"]), ("Bearer", 100))
        self.assertTrue(self.server.active(tokens["access_token"]))
        status, body = self.server.exchange(code, verifier)
        self.assertEqual((status, body["error"]), (400, "invalid_grant"))
        self.assertFalse(self.server.active(tokens["access_token"]))
        self.assertEqual(self.server.refresh(tokens["refresh_token"])[1]["error"], "invalid_grant")

    def test_introspection_knows_live_access_tokens_only(self):
        tokens = self.server.sign_in()
        _, live = self.server.post("/introspect", {"token": tokens["access_token"]})
        self.assertEqual((live["active"], live["username"]), (True, "alice"))
        self.assertAlmostEqual(live["exp"], time.time() + 100, delta=5)
        for name, token in (("refresh token", tokens["refresh_token"]), ("unknown", "x" * 43)):
            with self.subTest(name):
                self.assertEqual(self.server.post("/introspect", {"token": token}), (200, {"active": False}))
        # A refresh token serves its own client only.
        self.assertEqual(self.server.refresh(tokens["refresh_token"], "c2")[1]["error"], "invalid_grant")


class ControlsTest(unittest.TestCase):
    """The test controls and the refresh answers, each on a server of its own."""

    def start(self, *options):
        server = Running(*options)
        self.addCleanup(server.close)
        return server

    def test_each_refresh_mode_answers_and_keeps_the_refresh_token_as_its_provider_does(self):
        rows = [  # option, answers a refresh token, it is new, the old one still works
            ([], True, False, True),
            (["--rotate-refresh"], True, True, False),
            (["--omit-refresh-token"], False, False, True),
        ]
        for options, answers, new, old_works in rows:
            with self.subTest(options):
                server = self.start(*options)
                tokens = server.sign_in()
                status, again = server.refresh(tokens["refresh_token"])
                self.assertEqual(status, 200)
                self.assertTrue(server.active(again["access_token"]))
                self.assertNotEqual(again["access_token"], tokens["access_token"])
                self.assertEqual("refresh_token" in again, answers)
                if answers:
                    self.assertEqual(again["refresh_token"] != tokens["refresh_token"], new)
                    self.assertEqual(server.refresh(again["refresh_token"])[0], 200)
                self.assertEqual(server.refresh(tokens["refresh_token"])[0] == 200, old_works)

    def test_expire_ends_access_tokens_revoke_ends_refresh_tokens_and_stats_count_all(self):
        server = self.start()
        tokens = server.sign_in()
        self.assertEqual(server.post("/admin/expire"), (200, {"expired": 1}))
        self.assertFalse(server.active(tokens["access_token"]))
        again = server.refresh(tokens["refresh_token"])[1]
        self.assertTrue(server.active(again["access_token"]))
        self.assertEqual(server.post("/admin/revoke"), (200, {"revoked": 1}))
        self.assertEqual(server.refresh(tokens["refresh_token"]), (400, {
            "error": "invalid_grant", "error_description": "the refresh token is unknown or revoked"}))
        self.assertTrue(server.active(again["access_token"]))
        # The stats count every request, failed ones too, by endpoint and grant type.
        server.post("/token", {"grant_type": "password"})
        self.assertEqual(json.loads(server.get("/admin/stats")[2]), {
            "authorize": 1, "introspect": 3,
            "token": {"authorization_code": 1, "refresh_token": 2, "password": 1}})

    def test_an_access_token_expires_after_its_lifetime(self):
        server = self.start("--access-lifetime", "1")
        tokens = server.sign_in()
        self.assertTrue(server.active(tokens["access_token"]))
        time.sleep(1.1)
        self.assertFalse(server.active(tokens["access_token"]))


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
