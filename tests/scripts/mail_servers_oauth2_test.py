#!/usr/bin/python3
"""Tests of scripts/mail_servers.py started with --oauth2: Dovecot takes the
authorization server's bearer tokens on POP3 and submission and refuses the
others at once."""

import base64
import json
import os
import poplib
import smtplib
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "..", "scripts", "mail_servers.py")
PYTHON = "/usr/bin/python3"
# A refusal must come without Dovecot's login penalty (2, 4, 8, 15 s).
PROMPT = 1.5


def script(*arguments, stdin=""):
    result = subprocess.run([PYTHON, SCRIPT, *arguments], input=stdin, text=True,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return result.returncode, result.stdout, result.stderr


def xoauth2(user, token):
    return base64.b64encode(f"user={user}\x01auth=Bearer {token}\x01\x01".encode()).decode()


class OAuth2ServersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory(prefix="lumopet-oauth2-")
        code, out, err = script("start", "--dir", cls.dir.name, "--account", "alice:pw1",
                                "--account", "bob:pw2", "--oauth2", "alice",
                                "--oauth2-access-lifetime", "300")
        if code != 0:
            raise RuntimeError(err)
        cls.ports = json.loads(out)
        cls.context = ssl.create_default_context(cafile=cls.ports["ca"])

    @classmethod
    def tearDownClass(cls):
        script("stop", "--dir", cls.dir.name)
        cls.dir.cleanup()

    def oauth2(self, action, stdin=""):
        code, out, _ = script("oauth2", "--dir", self.dir.name, action, stdin=stdin)
        return code, json.loads(out)

    def sign_in(self):
        code, tokens = self.oauth2("sign-in")
        self.assertEqual(code, 0, tokens)
        return tokens

    def pop3(self):
        pop = poplib.POP3_SSL("localhost", self.ports["pop3s"], context=self.context, timeout=10)
        self.addCleanup(pop.close)
        return pop

    def pop3_login(self, user, token):
        """(logged in, seconds taken)."""
        started = time.monotonic()
        pop = self.pop3()
        try:
            answer = pop._shortcmd("AUTH XOAUTH2 " + xoauth2(user, token))
            if not answer.startswith(b"+OK"):
                # A refused XOAUTH2 token first gets a challenge with the
                # error, which the client answers with an empty line.
                pop._putcmd("")
                pop._getresp()
        except poplib.error_proto:
            return False, time.monotonic() - started
        pop.stat()
        return True, time.monotonic() - started

    def test_only_a_live_access_token_of_the_user_logs_in_and_refusals_come_at_once(self):
        tokens = self.sign_in()
        other = self.sign_in()
        self.assertEqual(self.oauth2("expire")[0], 0)
        live = self.oauth2("refresh", stdin=other["refresh_token"] + "\n")[1]
        rows = [  # user, token, logs in
            ("alice", live["access_token"], True),
            ("alice", tokens["access_token"], False),          # expired
            ("alice", tokens["refresh_token"], False),         # no access token
            ("alice", "x" + live["access_token"], False),      # never issued
            ("bob", live["access_token"], False),              # alice's token
            ("alice", "pw1", False),                           # a password is no token
        ]
        asked = self.oauth2("stats")[1]["introspect"]
        for round in range(2):  # the second round would meet any penalty of the first
            for user, token, logs_in in rows:
                with self.subTest(round=round, user=user, logs_in=logs_in, token=token[:4]):
                    ok, seconds = self.pop3_login(user, token)
                    self.assertEqual(ok, logs_in)
                    self.assertLess(seconds, PROMPT)
        # Dovecot keeps no answer: it asks about every token each time.
        self.assertEqual(self.oauth2("stats")[1]["introspect"], asked + 2 * len(rows))

    def test_passwords_still_log_in_beside_tokens(self):
        for user, password in (("alice", "pw1"), ("bob", "pw2")):
            with self.subTest(user):
                pop = self.pop3()
                pop.user(user)
                self.assertTrue(pop.pass_(password).startswith(b"+OK"))

    def test_submission_takes_no_mail_without_a_login(self):
        # Delivery with a token and the refusal of an expired one:
        # oauth2_e2e_tests (TokenSubmission, SubmissionRefusal).
        with smtplib.SMTP("localhost", self.ports["submission"], timeout=10) as smtp:
            smtp.starttls(context=self.context)
            with self.assertRaises(smtplib.SMTPSenderRefused):
                smtp.sendmail("alice@localhost", ["bob@localhost"], "Subject: x\r\n\r\nx\r\n")


if __name__ == "__main__":
    unittest.main(argv=sys.argv, verbosity=2)
