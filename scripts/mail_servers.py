#!/usr/bin/python3
"""Local mail servers for Lumopet's tests and demo.

Runs a private Dovecot (POP3 with STLS, and POP3S) and a small SMTP server
built on aiosmtpd (STARTTLS, SMTPS, optional AUTH PLAIN/LOGIN) that files
every accepted message straight into the recipient's Maildir, which the same
Dovecot serves.  Everything lives in one folder, listens on 127.0.0.1 only,
and never touches the system's own Dovecot.

    mail_servers.py start   --dir DIR --account USER:PASSWORD [--account ...]
                            [--smtp-auth required | --pop-before-smtp]
                            [--submission] [--oauth2 USER [--oauth2-access-lifetime S]
                             [--oauth2-rotate-refresh | --oauth2-omit-refresh-token]]
    mail_servers.py stop    --dir DIR
    mail_servers.py deliver --dir DIR --account USER FILE... | -
    mail_servers.py count   --dir DIR --account USER
    mail_servers.py oauth2  --dir DIR sign-in | refresh | expire | revoke | stats

`start` prints one line of JSON (ports, CA file, Maildirs) and returns with
the servers running in the background; the same JSON is kept in
DIR/servers.json.  Needs the packages from scripts/install-mail-servers.sh.

Two stricter SMTP servers, for tests of the client's logins:
--smtp-auth required  refuses mail until the client logs in (AUTH after
                      STARTTLS on the plain port, at once on the SMTPS one);
--pop-before-smtp     offers no AUTH and relays only for an address that
                      logged in to the POP3 server in the last ten minutes
                      (Dovecot's post-login script marks it).

Sign-in with OAuth2, as Gmail and Outlook.com ask of a desktop client:
--submission          Dovecot's SMTP submission (a STARTTLS port and a TLS
                      one, "submission" and "submissions" in the JSON) with
                      the same logins as POP3, relaying to the SMTP server;
--oauth2 USER         also scripts/oauth2_server.py, an authorization server
                      that signs in USER (its URL is "oauth2" in the JSON);
                      Dovecot takes its bearer tokens (XOAUTH2, OAUTHBEARER)
                      on POP3 and submission, checked by introspection.
                      Implies --submission.  `oauth2 sign-in` prints the
                      tokens of a whole sign-in, `oauth2 refresh` those of a
                      refresh (refresh token on stdin), `expire` and
                      `revoke` end every access or refresh token, `stats`
                      counts the server's requests.

Must run with /usr/bin/python3: Debian's aiosmtpd is only installed there.

In the background runs one supervisor process ("_serve", pid in
DIR/servers.pid) with two children: Dovecot's master in the foreground
(DIR/dovecot.pid) and the SMTP server (DIR/smtp.pid); with --oauth2 a third,
the authorization server (DIR/oauth2.pid).  Because the
supervisor is their parent it reaps them the moment they exit, so a stopped
set leaves no defunct processes behind for the next test to trip over.
"""

import argparse
import asyncio
import base64
import grp
import hashlib
import http.client
import importlib.util
import json
import os
import pwd
import re
import secrets
import selectors
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import time
from urllib.parse import parse_qs, urlencode, urlsplit

PROG = "mail_servers.py"

# Dovecot refuses to hand mail to root, so when we run as root the Maildirs
# and the SMTP server belong to this system user, made on first use.
MAIL_USER = "lumopet-mail"

HOSTNAME = "localhost"
LOOPBACK = "127.0.0.1"

# How long start waits for the servers to greet, and stop for them to go.
# Both normally take well under a second; the slack is for a busy machine.
START_TIMEOUT = 10.0
STOP_TIMEOUT = 5.0

# Account names become folder names and passwd-file keys, so keep them tame;
# these are also the only characters Dovecot accepts in a login by default.
ACCOUNT_NAME = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._@-]*$")

SYSTEM_PYTHON = "/usr/bin/python3"
DOVECOT = "/usr/sbin/dovecot"
DOVECOT_DH = "/usr/share/dovecot/dh.pem"
DOVECOT_SUBMISSION = "/usr/lib/dovecot/submission"

# Unix sockets that Dovecot puts in base_dir must fit in sun_path (108 bytes,
# with the NUL).  The longest name it uses there is under 40 characters.
MAX_BASE_DIR = 60
FALLBACK_BASE_PREFIX = "/tmp/lumopet-mail-"


class Failure(Exception):
    """An error worth one clear line on stderr."""


class PortTaken(Failure):
    """Dovecot found one of its ports taken; start again with fresh ones."""


# ---------------------------------------------------------------------------
# Layout of DIR

class Layout:
    def __init__(self, directory):
        self.dir = os.path.abspath(directory)
        self.tls = os.path.join(self.dir, "tls")
        self.ca = os.path.join(self.tls, "ca.pem")
        self.ca_key = os.path.join(self.tls, "ca.key")
        self.cert = os.path.join(self.tls, "server.pem")
        self.key = os.path.join(self.tls, "server.key")
        self.mail = os.path.join(self.dir, "mail")
        self.passwd = os.path.join(self.dir, "passwd")
        self.dovecot_conf = os.path.join(self.dir, "dovecot.conf")
        self.dovecot_log = os.path.join(self.dir, "dovecot.log")
        self.dovecot_output = os.path.join(self.dir, "dovecot-start.log")
        self.state = os.path.join(self.dir, "state")
        self.servers_log = os.path.join(self.dir, "servers.log")
        self.servers_pid = os.path.join(self.dir, "servers.pid")
        self.dovecot_pid = os.path.join(self.dir, "dovecot.pid")
        self.smtp_pid = os.path.join(self.dir, "smtp.pid")
        self.oauth2_pid = os.path.join(self.dir, "oauth2.pid")
        self.oauth2_conf = os.path.join(self.dir, "dovecot-oauth2.conf.ext")
        self.servers_json = os.path.join(self.dir, "servers.json")
        self.base_dir_file = os.path.join(self.dir, "base_dir")
        # POP before SMTP: Dovecot's post-login script touches a file named
        # after the client's address here, which the SMTP server looks at.
        self.pop_logins = os.path.join(self.dir, "pop-logins")
        self.postlogin_script = os.path.join(self.dir, "pop-before-smtp.sh")

    def home(self, account):
        return os.path.join(self.mail, account)

    def maildir(self, account):
        return os.path.join(self.mail, account, "Maildir")

    def base_dir(self):
        """Dovecot's runtime folder: inside DIR unless the path is too long
        for its unix sockets, then a short one under /tmp named after DIR."""
        inside = os.path.join(self.dir, "run")
        if len(inside) <= MAX_BASE_DIR:
            return inside
        digest = hashlib.sha1(self.dir.encode()).hexdigest()[:12]
        return FALLBACK_BASE_PREFIX + digest


# ---------------------------------------------------------------------------
# Small helpers

def note(message):
    print(f"{PROG}: {message}", file=sys.stderr, flush=True)


def log(message):
    """A line in DIR/servers.log (the supervisor's and SMTP server's stderr)."""
    print(f"{time.strftime('%Y-%m-%d %H:%M:%S')} [{os.getpid()}] {message}",
          file=sys.stderr, flush=True)


def run(command, what):
    result = subprocess.run(command, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if result.returncode != 0:
        output = result.stdout.decode(errors="replace").strip()
        raise Failure(f"{what} failed (exit {result.returncode}): {output}")
    return result.stdout


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode(errors="replace")
    except OSError:
        return ""


def read_pid(path):
    try:
        return int(read_text(path).strip())
    except ValueError:
        return None


def write_file(path, data, mode=0o644):
    if isinstance(data, str):
        data = data.encode()
    tmp = path + ".tmp"
    fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)
    with os.fdopen(fd, "wb") as f:
        f.write(data)
    os.chmod(tmp, mode)
    os.replace(tmp, path)


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def process_cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return [part.decode(errors="replace")
                    for part in f.read().split(b"\0") if part]
    except OSError:
        return None


def process_stat(pid):
    """(state, parent pid) of pid, or None when it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    return fields[0], int(fields[1])


def process_alive(pid):
    """True while pid exists and is not a zombie."""
    stat = process_stat(pid)
    return stat is not None and stat[0] != "Z"


def all_pids():
    return [int(entry) for entry in os.listdir("/proc") if entry.isdigit()]


def children_of(parent):
    return [pid for pid in all_pids()
            if (stat := process_stat(pid)) and stat[1] == parent and stat[0] != "Z"]


def process_name(pid):
    return read_text(f"/proc/{pid}/comm").strip()


def send_signal(pids, signum):
    for pid in pids:
        try:
            os.kill(pid, signum)
        except (ProcessLookupError, PermissionError):
            pass


def wait_gone(pids, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not any(process_alive(pid) for pid in pids):
            return True
        time.sleep(0.01)
    return False


# ---------------------------------------------------------------------------
# The mail user

def mail_identity():
    """(uid, gid, user name, group name) that owns the Maildirs and runs the
    servers' mail-handling processes."""
    if os.geteuid() != 0:
        entry = pwd.getpwuid(os.getuid())
        return entry.pw_uid, entry.pw_gid, entry.pw_name, grp.getgrgid(entry.pw_gid).gr_name
    try:
        entry = pwd.getpwnam(MAIL_USER)
    except KeyError:
        result = subprocess.run(
            ["useradd", "--system", "--user-group", "--no-create-home",
             "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
             "--comment", "Lumopet test mail", MAIL_USER],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            # Another start running at the same moment may have won the race;
            # that is fine as long as the user is there now.
            entry = pwd.getpwnam(MAIL_USER)
        except KeyError:
            raise Failure(f"could not create the system user {MAIL_USER}: "
                          + result.stdout.decode(errors="replace").strip())
    return entry.pw_uid, entry.pw_gid, entry.pw_name, grp.getgrgid(entry.pw_gid).gr_name


def make_reachable(directory):
    """Dovecot's auth process and the mail user must be able to walk down to
    DIR.  mktemp -d makes 0700 folders, so add the search bit on any folder
    above DIR that lacks it (search only: nobody gets to list them)."""
    current = os.path.dirname(directory)
    while True:
        mode = os.stat(current).st_mode
        if not mode & 0o001:
            os.chmod(current, (mode & 0o7777) | 0o011)
            note(f"made {current} searchable for the mail servers")
        parent = os.path.dirname(current)
        if parent == current:
            break
        current = parent


# ---------------------------------------------------------------------------
# Certificates

OPENSSL_CONF = """\
[ req ]
distinguished_name = dn
prompt = no

[ dn ]

[ ca_ext ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash

[ server_ext ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
"""


def make_certificates(layout):
    """A throwaway CA and a server certificate for localhost / 127.0.0.1,
    made anew on every start.  EC keys, because RSA ones would eat most of
    start's time.  The CA key is deleted once it has signed: nothing else
    should ever be signed by a CA that clients are told to trust."""
    os.makedirs(layout.tls, exist_ok=True)
    os.chmod(layout.tls, 0o755)
    conf = os.path.join(layout.tls, "openssl.cnf")
    write_file(conf, OPENSSL_CONF)
    csr = os.path.join(layout.tls, "server.csr")
    for path in (layout.ca_key, layout.key):
        remove(path)
    common = ["-config", conf, "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
              "-nodes"]
    run(["openssl", "req", "-x509", *common, "-keyout", layout.ca_key, "-out", layout.ca,
         "-days", "3650", "-subj", "/O=Lumopet/CN=Lumopet local test CA",
         "-extensions", "ca_ext"], "making the test CA")
    run(["openssl", "req", "-new", *common, "-keyout", layout.key, "-out", csr,
         "-subj", "/O=Lumopet/CN=localhost"], "making the server key")
    run(["openssl", "x509", "-req", "-in", csr, "-CA", layout.ca, "-CAkey", layout.ca_key,
         "-set_serial", str(secrets.randbits(63)), "-days", "825", "-sha256",
         "-extfile", conf, "-extensions", "server_ext", "-out", layout.cert],
        "signing the server certificate")
    remove(layout.ca_key)
    remove(csr)
    os.chmod(layout.key, 0o600)
    os.chmod(layout.ca, 0o644)
    os.chmod(layout.cert, 0o644)


# ---------------------------------------------------------------------------
# Dovecot's configuration

def dovecot_config(layout, base_dir, uid, gid, user, group, ports, pop_before_smtp=False,
                   oauth2=False, submission=False):
    """Dovecot's configuration.  With oauth2, bearer tokens log in too (the
    authorization server checks them, see oauth2_config); with submission,
    SMTP submission on ports["submission"] (STARTTLS) and
    ports["submissions"] (TLS at once) relays to our SMTP server."""
    mechanisms = "plain login apop"
    lines = [
        "# Made by mail_servers.py; rewritten on every start.",
        f"base_dir = {base_dir}",
        f"state_dir = {layout.state}",
        f"log_path = {layout.dovecot_log}",
        "protocols = pop3 submission" if submission else "protocols = pop3",
        f"listen = {LOOPBACK}",
        "shutdown_clients = yes",
        f"first_valid_uid = {uid}",
        f"last_valid_uid = {uid}",
        f"first_valid_gid = {gid}",
        f"last_valid_gid = {gid}",
        # Clients log in in the clear on loopback; that is what the tests
        # exercise alongside STLS and POP3S.
        "disable_plaintext_auth = no",
        # APOP only shows its timestamp in the greeting when it is enabled.
        f"auth_mechanisms = {mechanisms} xoauth2 oauthbearer" if oauth2
        else f"auth_mechanisms = {mechanisms}",
        # The default delay makes every wrong-password test wait seconds.
        "auth_failure_delay = 0",
        # Logins are matched exactly as the account was given; Dovecot would
        # otherwise lowercase them first, and "Taro" could never log in.
        "auth_username_format = %u",
        "auth_verbose = yes",
        "ssl = yes",
        f"ssl_cert = <{layout.cert}",
        f"ssl_key = <{layout.key}",
        f"ssl_dh = <{DOVECOT_DH}" if os.path.exists(DOVECOT_DH) else "",
        "pop3_uidl_format = %08Xu%08Xv",
        "mail_location = maildir:~/Maildir",
        "passdb {",
        "  driver = passwd-file",
        # A bearer token goes to the oauth2 passdb alone: this one would
        # otherwise take the account's password given as an XOAUTH2 token.
        f"  mechanisms = {mechanisms}" if oauth2 else "",
        # PLAIN storage is what lets APOP work: it needs the password itself.
        f"  args = scheme=PLAIN username_format=%u {layout.passwd}",
        "}",
        "userdb {",
        "  driver = passwd-file",
        f"  args = username_format=%u {layout.passwd}",
        "}",
        "service pop3-login {",
        "  inet_listener pop3 {",
        f"    address = {LOOPBACK}",
        f"    port = {ports['pop3']}",
        "  }",
        "  inet_listener pop3s {",
        f"    address = {LOOPBACK}",
        f"    port = {ports['pop3s']}",
        "    ssl = yes",
        "  }",
        "}",
    ]
    if oauth2:
        lines += [
            "passdb {",
            "  driver = oauth2",
            "  mechanisms = xoauth2 oauthbearer",
            f"  args = {layout.oauth2_conf}",
            "}",
        ]
    if submission:
        lines += [
            # The name in the greeting and in the EHLO to the relay.
            f"hostname = {HOSTNAME}",
            f"submission_relay_host = {LOOPBACK}",
            f"submission_relay_port = {ports['smtp']}",
            # Our SMTP server relays for anyone; XCLIENT is only sent when
            # a relay offers it, which ours does not.
            "submission_relay_trusted = yes",
            "submission_relay_ssl = no",
            "service submission-login {",
            "  inet_listener submission {",
            f"    address = {LOOPBACK}",
            f"    port = {ports['submission']}",
            "  }",
            "  inet_listener submissions {",
            f"    address = {LOOPBACK}",
            f"    port = {ports['submissions']}",
            "    ssl = yes",
            "  }",
            "}",
        ]
    # Every refused login makes anvil delay the next ones from the same
    # address (2, 4, 8 up to 15 seconds); auth_failure_delay does not reach
    # it.  A test that refuses a token and then logs in with a fresh one
    # would wait for it: nobody may ask anvil for penalties here.
    anvil = ["service anvil {",
             "  unix_listener anvil-auth-penalty {",
             "    mode = 0",
             "  }"]
    if pop_before_smtp:
        # Every POP3 session runs the post-login script first.
        lines += [
            "service pop3 {",
            "  executable = pop3 pop-before-smtp",
            "}",
            "service pop-before-smtp {",
            f"  executable = script-login {layout.postlogin_script}",
            "  user = $default_internal_user",
            "  unix_listener pop-before-smtp {",
            f"    user = {user}",
            "  }",
            "}",
        ]
    if os.geteuid() != 0:
        # Without root Dovecot can neither switch users nor chroot.
        lines += [
            f"default_internal_user = {user}",
            f"default_internal_group = {group}",
            f"default_login_user = {user}",
            "service pop3-login {",
            "  chroot =",
            "}",
        ]
        anvil.append("  chroot =")
        if submission:
            lines += ["service submission-login {", "  chroot =", "}"]
    lines += [*anvil, "}"]
    return "\n".join(line for line in lines if line) + "\n"


def oauth2_config(port):
    """dovecot-oauth2.conf.ext: every bearer token is posted to the
    authorization server's introspection (RFC 7662), whose answer names the
    user; Dovecot refuses a token of another user than the one logging in."""
    return "\n".join([
        "# Made by mail_servers.py; rewritten on every start.",
        "introspection_mode = post",
        f"introspection_url = http://{LOOPBACK}:{port}/introspect",
        "force_introspection = yes",
        "username_attribute = username",
        "active_attribute = active",
        "active_value = true",
        "",
    ])


# ---------------------------------------------------------------------------
# Maildir delivery, shared by the SMTP server and `deliver`

_delivery_counter = 0


def maildir_deliver(maildir, data, owner=None):
    """Store data byte for byte as one new message: write it in tmp/, then
    link it into new/ so a reader never sees half a message and two writers
    can never overwrite each other.  The microseconds are zero-padded so
    that names sort in delivery order, which is the order Dovecot numbers
    new messages in: `deliver a b` gives a as message 1 and b as 2."""
    global _delivery_counter
    host = socket.gethostname().replace("/", r"\057").replace(":", r"\072")
    while True:
        _delivery_counter += 1
        now = time.time()
        seconds = int(now)
        micros = int((now - seconds) * 1_000_000)
        name = (f"{seconds}.M{micros:06d}P{os.getpid()}Q{_delivery_counter}"
                f"R{secrets.token_hex(8)}.{host}")
        tmp = os.path.join(maildir, "tmp", name)
        try:
            fd = os.open(tmp, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        except FileExistsError:
            continue
        try:
            with os.fdopen(fd, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            if owner is not None:
                os.chown(tmp, owner[0], owner[1])
            try:
                os.link(tmp, os.path.join(maildir, "new", name))
            except FileExistsError:
                continue
        finally:
            remove(tmp)
        return os.path.join(maildir, "new", name)


POSTLOGIN_SCRIPT = """\
#!/bin/sh
# Written by mail_servers.py: a POP3 login lets its address relay.
touch "{folder}/$IP"
exec "$@"
"""

# How long a POP3 login lets its address relay.
POP_BEFORE_SMTP_SECONDS = 600


def make_pop_before_smtp(layout):
    """The folder Dovecot's post-login script marks, open to all (the
    script runs as Dovecot's internal user, not as us), and the script."""
    os.makedirs(layout.pop_logins, exist_ok=True)
    os.chmod(layout.pop_logins, 0o1777)
    write_file(layout.postlogin_script, POSTLOGIN_SCRIPT.format(folder=layout.pop_logins), 0o755)


def make_maildir(layout, account, uid, gid):
    home = layout.home(account)
    maildir = layout.maildir(account)
    for path in (home, maildir, *(os.path.join(maildir, sub) for sub in ("new", "cur", "tmp"))):
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o700)
        os.chown(path, uid, gid)
    return maildir


# ---------------------------------------------------------------------------
# The SMTP server

class DeliveringHandler:
    """aiosmtpd handler: accepts mail for our accounts only and files each
    message into every recipient account's Maildir."""

    def __init__(self, maildirs):
        # Matching is case-insensitive; keep the real spelling for the path.
        self.by_name = {name.lower(): name for name in maildirs}
        self.maildirs = maildirs

    def may_relay(self, session):
        return True

    def account_for(self, address):
        """The account for user@localhost, plain user, or any address whose
        local part is an account name (so a demo can write to
        taro@example.jp); the whole address is tried first, for accounts
        that are named with an @."""
        address = address.strip().strip("<>").lower()
        if address in self.by_name:
            return self.by_name[address]
        local = address.rsplit("@", 1)[0]
        return self.by_name.get(local)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if not self.may_relay(session):
            return f"554 5.7.1 <{address}>: Relay access denied"
        if self.account_for(address) is None:
            return f"550 5.1.1 <{address}>: no such mailbox here"
        envelope.rcpt_tos.append(address)
        return "250 2.1.5 OK"

    async def handle_DATA(self, server, session, envelope):
        # original_content is the message as received, dot-unstuffed, CRLFs
        # and all; nothing is decoded or added.
        data = envelope.original_content
        targets = []
        for address in envelope.rcpt_tos:
            account = self.account_for(address)
            if account not in targets:
                targets.append(account)
        try:
            for account in targets:
                path = maildir_deliver(self.maildirs[account], data)
                log(f"delivered {len(data)} bytes from <{envelope.mail_from}> to {account}: "
                    f"{os.path.basename(path)}")
        except OSError as error:
            log(f"delivery failed: {error}")
            return "451 4.3.0 could not store the message"
        return "250 2.0.0 OK: delivered"


class PopBeforeSmtpHandler(DeliveringHandler):
    """Offers no AUTH, and takes mail only from an address that logged in
    to the POP3 server a short while ago, as servers did before SMTP AUTH."""

    def __init__(self, maildirs, pop_logins):
        super().__init__(maildirs)
        self.pop_logins = pop_logins

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        return [line for line in responses if not line.upper().startswith("250-AUTH")]

    def may_relay(self, session):
        mark = os.path.join(self.pop_logins, session.peer[0])
        try:
            return time.time() - os.stat(mark).st_mtime < POP_BEFORE_SMTP_SECONDS
        except OSError:
            return False


def smtp_server(config, context, ready_fd):
    """Body of the SMTP child: runs as the mail user, serves both ports,
    writes a byte to ready_fd once it is listening, and stops on SIGTERM."""
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    class AuthParameterSMTP(SMTP):
        """aiosmtpd offers AUTH but refuses MAIL FROM's AUTH= parameter,
        which RFC 4954 5 makes part of that extension and Dovecot's
        submission sends when it relays ("AUTH=alice").  The parameter
        only says who submitted the message: drop it and go on."""

        async def smtp_MAIL(self, arg):
            if arg:
                arg = " ".join(word for word in arg.split(" ")
                               if not word.upper().startswith("AUTH="))
            return await super().smtp_MAIL(arg)

    passwords = {name.encode("utf-8"): password.encode("utf-8")
                 for name, password in config["accounts"].items()}

    def authenticator(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            expected = passwords.get(auth_data.login)
            if expected is not None and secrets.compare_digest(expected, auth_data.password):
                return AuthResult(success=True)
        return AuthResult(success=False, handled=False)

    if config.get("pop_before_smtp"):
        handler = PopBeforeSmtpHandler(config["maildirs"], config["pop_logins"])
    else:
        handler = DeliveringHandler(config["maildirs"])
    auth_required = config.get("smtp_auth") == "required"

    def factory(tls_context):
        def make():
            # By default AUTH is offered but not required, and allowed before
            # STARTTLS: these servers only ever talk to this machine, and
            # some tests send without logging in. When it is required, it
            # waits for STARTTLS on the plain port, as submission servers do.
            # POP before SMTP offers no AUTH, so AUTH= stays unknown there.
            server = SMTP if config.get("pop_before_smtp") else AuthParameterSMTP
            return server(handler, hostname=HOSTNAME, tls_context=tls_context,
                          authenticator=authenticator, auth_required=auth_required,
                          auth_require_tls=auth_required and tls_context is not None,
                          enable_SMTPUTF8=True,
                          data_size_limit=512 * 1024 * 1024, ident="Lumopet test SMTP")
        return make

    async def serve():
        loop = asyncio.get_running_loop()
        servers = [
            await loop.create_server(factory(context),
                                     sock=socket.socket(fileno=config["smtp_fd"])),
            # On the SMTPS port the connection is TLS already, so STARTTLS is
            # not offered there.
            await loop.create_server(factory(None), ssl=context,
                                     sock=socket.socket(fileno=config["smtps_fd"])),
        ]
        stopping = asyncio.Event()
        for signum in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(signum, stopping.set)
        os.write(ready_fd, b"1")
        os.close(ready_fd)
        await stopping.wait()
        for server in servers:
            server.close()
        for server in servers:
            await server.wait_closed()

    asyncio.run(serve())


# ---------------------------------------------------------------------------
# The OAuth2 authorization server (scripts/oauth2_server.py)

OAUTH2_SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "oauth2_server.py")
# What `oauth2 sign-in` calls itself and where it says it listens; nothing
# listens there: the code is taken from the redirect itself.
SIGN_IN_CLIENT = "lumopet-tests"
SIGN_IN_REDIRECT = f"http://{LOOPBACK}:9/signed-in"


def start_oauth2_server(settings, uid, gid):
    """Start the authorization server on the listening socket start bound;
    returns its pid, or None when the servers run without one.  It runs as
    the mail user, like the SMTP server."""
    if not settings:
        return None
    command = [sys.executable, OAUTH2_SERVER, "--listen-fd", str(settings["fd"]),
               "--user", settings["user"], "--access-lifetime", str(settings["access_lifetime"])]
    if settings["refresh"] == "rotate":
        command.append("--rotate-refresh")
    elif settings["refresh"] == "omit":
        command.append("--omit-refresh-token")
    identity = {"user": uid, "group": gid, "extra_groups": []} if os.geteuid() == 0 else {}
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               pass_fds=[settings["fd"]], cwd="/", **identity)
    os.close(settings["fd"])
    return process.pid


def http_request(base, method, path, form=None, timeout=10.0):
    """(status, headers, body) of one request to the authorization server
    at base; a form goes as x-www-form-urlencoded.  No redirect is followed."""
    connection = http.client.HTTPConnection(LOOPBACK, urlsplit(base).port, timeout=timeout)
    try:
        body = None if form is None else urlencode(form)
        headers = {} if form is None else {"Content-Type": "application/x-www-form-urlencoded"}
        connection.request(method, path, body=body, headers=headers)
        reply = connection.getresponse()
        return reply.status, reply.headers, reply.read()
    finally:
        connection.close()


def http_json(base, method, path, form=None):
    """(status, JSON answer) of a request to the authorization server."""
    status, _, body = http_request(base, method, path, form)
    try:
        return status, json.loads(body)
    except ValueError:
        raise Failure(f"{path} answered {status} without JSON")


def oauth2_sign_in(base):
    """The token answer of a whole sign-in (authorization code with S256
    PKCE), as a desktop client makes it."""
    verifier = secrets.token_urlsafe(48)
    challenge = base64.urlsafe_b64encode(
        hashlib.sha256(verifier.encode("ascii")).digest()).rstrip(b"=").decode("ascii")
    query = urlencode({"response_type": "code", "client_id": SIGN_IN_CLIENT,
                       "redirect_uri": SIGN_IN_REDIRECT, "state": secrets.token_urlsafe(8),
                       "scope": "mail", "code_challenge": challenge,
                       "code_challenge_method": "S256"})
    status, headers, _ = http_request(base, "GET", f"/authorize?{query}")
    code = parse_qs(urlsplit(headers.get("Location", "")).query).get("code")
    if status != 302 or not code:
        raise Failure(f"the authorization server answered {status} to the sign-in, not a code")
    return http_json(base, "POST", "/token", {
        "grant_type": "authorization_code", "code": code[0], "redirect_uri": SIGN_IN_REDIRECT,
        "code_verifier": verifier, "client_id": SIGN_IN_CLIENT})


# ---------------------------------------------------------------------------
# The supervisor (`_serve`): parent of Dovecot, of the SMTP server and of
# the OAuth2 server

def stop_dovecot_master(master):
    """Stop Dovecot's master and everything it runs, and wait for them.
    Left to itself the master ends its children, then keeps its log process
    and waits for it, often for a whole second; signalling all of them at
    once has every process gone in about 10 ms.  The price is a few
    "Killed with signal 15" lines at the end of dovecot.log."""
    processes = [master, *children_of(master)]
    send_signal(processes, signal.SIGTERM)
    if not wait_gone(processes, STOP_TIMEOUT):
        send_signal([master, *children_of(master)], signal.SIGKILL)
        wait_gone(processes, STOP_TIMEOUT)


def supervise(directory):
    """Entry point of the background process.  Its settings, passwords
    included, arrive as JSON on stdin so they never show in ps; the SMTP
    listening sockets are inherited from start.  It prints "ready" on
    stdout once the SMTP server listens and Dovecot runs, or a reason to
    give up; then it waits, and stops both servers on SIGTERM, or when
    either of them dies (a half-working set would only confuse a test)."""
    config = json.loads(sys.stdin.buffer.read().decode("utf-8"))
    layout = Layout(directory)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(layout.cert, layout.key)

    with open(layout.dovecot_output, "wb") as output:
        dovecot = subprocess.Popen([DOVECOT, "-F", "-c", layout.dovecot_conf],
                                   stdin=subprocess.DEVNULL, stdout=output, stderr=output)
    write_file(layout.dovecot_pid, f"{dovecot.pid}\n")

    ready_read, ready_write = os.pipe()
    smtp = os.fork()
    if smtp == 0:
        status = 1
        try:
            os.close(ready_read)
            if config["oauth2"]:
                os.close(config["oauth2"]["fd"])
            # stdout is start's pipe, which waits for the supervisor's word
            # alone.
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 1)
            os.close(devnull)
            if os.geteuid() == 0:
                os.setgroups([])
                os.setgid(config["gid"])
                os.setuid(config["uid"])
            smtp_server(config, context, ready_write)
            status = 0
        except BaseException as error:  # whatever it is, log it and leave
            log(f"SMTP server failed: {error!r}")
        finally:
            os._exit(status)
    os.close(ready_write)
    for fd in (config["smtp_fd"], config["smtps_fd"]):
        os.close(fd)
    write_file(layout.smtp_pid, f"{smtp}\n")

    children = {dovecot.pid: "Dovecot", smtp: "the SMTP server"}
    oauth2 = start_oauth2_server(config["oauth2"], config["uid"], config["gid"])
    if oauth2:
        write_file(layout.oauth2_pid, f"{oauth2}\n")
        children[oauth2] = "the OAuth2 server"

    def shut_down():
        if dovecot.pid in children:
            stop_dovecot_master(dovecot.pid)
        send_signal([pid for pid in (smtp, oauth2) if pid in children], signal.SIGTERM)
        deadline = time.monotonic() + STOP_TIMEOUT
        while children and time.monotonic() < deadline:
            reap(block=False)
            time.sleep(0.01)
        send_signal(list(children), signal.SIGKILL)
        while children:
            reap(block=True)

    def reap(block):
        """Collect exited children; returns the names of those that went."""
        gone = []
        while children:
            try:
                pid, status = os.waitpid(-1, 0 if block else os.WNOHANG)
            except ChildProcessError:
                children.clear()
                break
            if pid == 0:
                break
            if pid in children:
                name = children.pop(pid)
                gone.append(name)
                log(f"{name} exited ({os.waitstatus_to_exitcode(status)})")
            if block:
                break
        return gone

    # Ready once the SMTP child says so; give up if either child dies first.
    selector = selectors.DefaultSelector()
    selector.register(ready_read, selectors.EVENT_READ)
    deadline = time.monotonic() + START_TIMEOUT
    answer = None
    while answer is None:
        if selector.select(0.02):
            answer = "ready" if os.read(ready_read, 1) else "the SMTP server did not start"
        elif reap(block=False):
            answer = "failed"
        elif time.monotonic() > deadline:
            answer = "the SMTP server did not start in time"
    selector.close()
    os.close(ready_read)
    if answer == "ready" and dovecot.pid not in children:
        answer = "failed"
    if answer != "ready":
        shut_down()
    sys.stdout.write(answer + "\n")
    sys.stdout.flush()
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)
    if answer != "ready":
        sys.exit(1)

    # Wait for SIGTERM, or for a child to die.  The signals are blocked and
    # taken with sigwait, so none can slip in between a check and a wait.
    signals = {signal.SIGTERM, signal.SIGINT, signal.SIGCHLD}
    signal.pthread_sigmask(signal.SIG_BLOCK, signals)
    while True:
        if reap(block=False):
            log("a server went away; stopping the other")
            break
        if signal.sigwait(signals) != signal.SIGCHLD:
            log("stopping")
            break
    shut_down()
    for path in (layout.dovecot_pid, layout.smtp_pid, layout.oauth2_pid):
        remove(path)


# ---------------------------------------------------------------------------
# Starting and stopping from the command line

def launch(layout, config, sockets):
    """Start the supervisor; returns it with its stdout open for "ready".
    Both logs start empty, so that what explains a failure is this try's."""
    remove(layout.dovecot_output)
    output = open(layout.servers_log, "wb")
    try:
        process = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "_serve", "--dir", layout.dir],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=output,
            pass_fds=[sock.fileno() for sock in sockets.values()],
            start_new_session=True, cwd="/")
    finally:
        output.close()
    write_file(layout.servers_pid, f"{process.pid}\n")
    process.stdin.write(json.dumps(config).encode("utf-8"))
    process.stdin.close()
    return process


def wait_ready(layout, process):
    line = b""
    with selectors.DefaultSelector() as selector:
        selector.register(process.stdout, selectors.EVENT_READ)
        deadline = time.monotonic() + START_TIMEOUT
        while not line.endswith(b"\n"):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not selector.select(remaining):
                raise Failure("the servers did not come up in time; see " + layout.servers_log)
            chunk = os.read(process.stdout.fileno(), 256)
            if not chunk:
                break
            line += chunk
    process.stdout.close()
    line = line.decode(errors="replace").strip()
    if line != "ready":
        process.wait(timeout=STOP_TIMEOUT)
        explain_failure(layout, line or "no answer")


def explain_failure(layout, what):
    """Raise the most useful account of why the servers did not come up."""
    dovecot_says = read_text(layout.dovecot_output).strip()
    if "Address already in use" in dovecot_says:
        raise PortTaken(dovecot_says)
    if dovecot_says:
        raise Failure("Dovecot failed to start:\n" + dovecot_says)
    tail = "\n".join(read_text(layout.servers_log).strip().splitlines()[-15:])
    raise Failure(f"the servers failed to start ({what}):\n{tail}")


def greeting(port, prefix, context=None, timeout=1.0):
    """Connect to port and read the first line; with context, through TLS
    checked against our own CA for the name localhost."""
    with socket.create_connection((LOOPBACK, port), timeout=timeout) as raw:
        sock = context.wrap_socket(raw, server_hostname=HOSTNAME) if context else raw
        data = b""
        while not data.endswith(b"\n") and len(data) < 1024:
            chunk = sock.recv(1024)
            if not chunk:
                break
            data += chunk
        if not data.startswith(prefix):
            raise Failure(f"port {port} greeted with {data!r}, expected {prefix!r}")


def oauth2_answers(port):
    status, _, _ = http_request(f"http://{LOOPBACK}:{port}", "GET", "/admin/stats", timeout=1.0)
    if status != 200:
        raise OSError(f"the authorization server answered {status}")


def wait_until_serving(layout, ports, process):
    """Every port must greet properly, the TLS ones with a certificate that
    verifies against the CA we hand out.  Dovecot may still fail after the
    supervisor said ready (it binds its ports a moment later); the
    supervisor then ends, and that is noticed here."""
    context = ssl.create_default_context(cafile=layout.ca)
    checks = [
        ("pop3", b"+OK", None), ("pop3s", b"+OK", context),
        ("smtp", b"220", None), ("smtps", b"220", context),
        ("submission", b"220", None), ("submissions", b"220", context),
        ("oauth2", None, None),
    ]
    deadline = time.monotonic() + START_TIMEOUT
    for name, prefix, tls in checks:
        if name not in ports:
            continue
        while True:
            try:
                if prefix is None:
                    oauth2_answers(ports[name])
                else:
                    greeting(ports[name], prefix, tls)
                break
            except (OSError, ssl.SSLError) as error:
                if process.poll() is not None:
                    explain_failure(layout, f"ended with {process.returncode}")
                if isinstance(error, ssl.SSLCertVerificationError) \
                        or time.monotonic() > deadline:
                    raise Failure(f"{name} on port {ports[name]} is not answering: {error}")
                time.sleep(0.02)


def supervisor_pid(layout):
    """Pid of the supervisor running for this folder, or None.  A pid file
    left by a crash may name some unrelated process by now, so check."""
    pid = read_pid(layout.servers_pid)
    if pid is None or not process_alive(pid):
        return None
    cmdline = process_cmdline(pid) or []
    if "_serve" in cmdline and layout.dir in cmdline:
        return pid
    return None


def stop_all(layout):
    """Stop the servers of this folder and wait until they are gone.  The
    supervisor does the work; if it is gone but a server outlived it (it was
    SIGKILLed, say), end that server directly."""
    pid = supervisor_pid(layout)
    if pid:
        send_signal([pid], signal.SIGTERM)
        if not wait_gone([pid], 2 * STOP_TIMEOUT):
            send_signal([pid], signal.SIGKILL)
            wait_gone([pid], STOP_TIMEOUT)

    master = read_pid(layout.dovecot_pid)
    if master and process_alive(master) \
            and layout.dovecot_conf in (process_cmdline(master) or []):
        stop_dovecot_master(master)
        # Orphaned, it is reaped by init, which may take its time; until
        # then `pgrep dovecot` would still list it.
        deadline = time.monotonic() + 3
        while os.path.exists(f"/proc/{master}") and time.monotonic() < deadline:
            time.sleep(0.02)
    smtp = read_pid(layout.smtp_pid)
    if smtp and process_alive(smtp) and "_serve" in (process_cmdline(smtp) or []) \
            and layout.dir in (process_cmdline(smtp) or []):
        send_signal([smtp], signal.SIGKILL)
        wait_gone([smtp], STOP_TIMEOUT)
    oauth2 = read_pid(layout.oauth2_pid)
    if oauth2 and process_alive(oauth2) and OAUTH2_SERVER in (process_cmdline(oauth2) or []):
        send_signal([oauth2], signal.SIGKILL)
        wait_gone([oauth2], STOP_TIMEOUT)

    for path in (layout.servers_pid, layout.dovecot_pid, layout.smtp_pid, layout.oauth2_pid):
        remove(path)
    # The short fallback base_dir is outside DIR; do not leave it behind.
    base_dir = read_text(layout.base_dir_file).strip()
    if base_dir.startswith(FALLBACK_BASE_PREFIX) and os.path.isdir(base_dir):
        shutil.rmtree(base_dir, ignore_errors=True)


def parse_accounts(values):
    accounts = {}
    for value in values:
        if ":" not in value:
            raise Failure(f"--account wants USER:PASSWORD, got {value!r}")
        name, password = value.split(":", 1)
        if not ACCOUNT_NAME.match(name):
            raise Failure(f"unusable account name {name!r} (letters, digits and ._@- only)")
        if name.lower() in (n.lower() for n in accounts):
            raise Failure(f"account {name!r} given twice")
        # The passwd-file is colon separated, one account a line.
        if not password or any(c in password for c in ":\r\n\0"):
            raise Failure(f"the password of {name!r} must be non-empty, "
                          "without ':' or line breaks")
        accounts[name] = password
    if not accounts:
        raise Failure("start needs at least one --account USER:PASSWORD")
    return accounts


def loopback_sockets(names, listen):
    """Bind each name to a free loopback port.  All are held open together so
    they come out distinct; the caller closes those a server binds itself."""
    sockets = {}
    for name in names:
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((LOOPBACK, 0))
        if listen:
            sock.listen(128)
        sockets[name] = sock
    return sockets


def command_start(args):
    layout = Layout(args.dir)
    # The folder's path ends up in Dovecot's config and in the colon-separated
    # passwd-file, where blanks split arguments and % starts a variable.
    if re.search(r'[\s%:"#\\]', layout.dir):
        raise Failure(f"{layout.dir!r}: pick a folder whose path has no blanks "
                      "or any of %:\"#\\")
    accounts = parse_accounts(args.account)
    if args.pop_before_smtp and args.smtp_auth == "required":
        raise Failure("--pop-before-smtp offers no AUTH, so it cannot go with --smtp-auth required")
    if args.oauth2 is not None and args.oauth2 not in accounts:
        raise Failure(f"--oauth2 {args.oauth2!r} is none of the --account names")
    submission = args.submission or args.oauth2 is not None
    if submission and (args.pop_before_smtp or args.smtp_auth == "required"):
        # Submission relays to our SMTP server without a login of its own.
        raise Failure("submission relays through the SMTP server without logging in: "
                      "it goes with neither --pop-before-smtp nor --smtp-auth required")
    if submission and not os.path.exists(DOVECOT_SUBMISSION):
        raise Failure(f"{DOVECOT_SUBMISSION} is missing; run scripts/install-mail-servers.sh")
    if not os.path.exists(DOVECOT):
        raise Failure(f"{DOVECOT} is missing; run scripts/install-mail-servers.sh")
    if importlib.util.find_spec("aiosmtpd") is None:
        # Run as `python3 mail_servers.py` with some other Python first on
        # PATH (pyenv, a venv): Debian's aiosmtpd is only in the system one.
        if os.path.realpath(sys.executable) != os.path.realpath(SYSTEM_PYTHON) \
                and os.path.exists(SYSTEM_PYTHON):
            os.execv(SYSTEM_PYTHON, [SYSTEM_PYTHON, os.path.abspath(__file__), *sys.argv[1:]])
        raise Failure(f"aiosmtpd is missing for {sys.executable}; "
                      "run scripts/install-mail-servers.sh")

    # A start on a folder whose servers are still up (an interrupted demo,
    # say) restarts them rather than leaving two sets fighting over it.
    if supervisor_pid(layout):
        note(f"stopping the servers still running in {layout.dir}")
    stop_all(layout)

    uid, gid, user, group = mail_identity()
    os.makedirs(layout.dir, exist_ok=True)
    os.chmod(layout.dir, 0o755)
    if os.geteuid() == 0:
        make_reachable(layout.dir)
    for path in (layout.state, layout.mail):
        os.makedirs(path, exist_ok=True)
        os.chmod(path, 0o755)

    make_certificates(layout)
    if args.pop_before_smtp:
        make_pop_before_smtp(layout)

    maildirs = {name: make_maildir(layout, name, uid, gid) for name in accounts}
    passwd = "".join(
        f"{name}:{{PLAIN}}{password}:{uid}:{gid}::{layout.home(name)}::\n"
        for name, password in accounts.items())
    if os.geteuid() == 0:
        # Dovecot's auth process reads this as its internal user, "dovecot".
        write_file(layout.passwd, passwd, 0o640)
        try:
            internal_gid = grp.getgrnam("dovecot").gr_gid
        except KeyError:
            internal_gid = gid
        os.chown(layout.passwd, 0, internal_gid)
    else:
        write_file(layout.passwd, passwd, 0o600)

    base_dir = layout.base_dir()
    write_file(layout.base_dir_file, base_dir + "\n")

    # Dovecot binds its own ports, so another program could take one between
    # our probe and its bind; start again with fresh ones if that happens.
    for attempt in range(5):
        # Sockets bound here and handed down (SMTP, the authorization
        # server), and ports Dovecot binds itself.
        smtp_sockets = loopback_sockets(["smtp", "smtps"] + (["oauth2"] if args.oauth2 else []),
                                        listen=True)
        ports = {name: sock.getsockname()[1] for name, sock in smtp_sockets.items()}
        probes = loopback_sockets(["pop3", "pop3s"] + (["submission", "submissions"] if submission
                                                       else []), listen=False)
        for name, sock in probes.items():
            ports[name] = sock.getsockname()[1]
            sock.close()
        write_file(layout.dovecot_conf,
                   dovecot_config(layout, base_dir, uid, gid, user, group, ports,
                                  args.pop_before_smtp, args.oauth2 is not None, submission))
        oauth2 = None
        if args.oauth2:
            write_file(layout.oauth2_conf, oauth2_config(ports["oauth2"]))
            refresh = ("rotate" if args.oauth2_rotate_refresh
                       else "omit" if args.oauth2_omit_refresh_token else "same")
            oauth2 = {"fd": smtp_sockets["oauth2"].fileno(), "user": args.oauth2,
                      "access_lifetime": args.oauth2_access_lifetime, "refresh": refresh}
        config = {
            "uid": uid, "gid": gid, "accounts": accounts, "maildirs": maildirs,
            "smtp_fd": smtp_sockets["smtp"].fileno(),
            "smtps_fd": smtp_sockets["smtps"].fileno(),
            "smtp_auth": args.smtp_auth,
            "pop_before_smtp": args.pop_before_smtp,
            "pop_logins": layout.pop_logins,
            "oauth2": oauth2,
        }
        try:
            try:
                process = launch(layout, config, smtp_sockets)
            finally:
                for sock in smtp_sockets.values():
                    sock.close()
            wait_ready(layout, process)
            wait_until_serving(layout, ports, process)
            break
        except PortTaken as error:
            stop_all(layout)
            if attempt == 4:
                raise Failure("Dovecot could not get free ports:\n" + str(error))
        except BaseException:
            stop_all(layout)
            raise

    result = {
        "pop3": ports["pop3"], "pop3s": ports["pop3s"],
        "smtp": ports["smtp"], "smtps": ports["smtps"],
        "ca": layout.ca, "dir": layout.dir,
        "accounts": maildirs,
    }
    if submission:
        result.update(submission=ports["submission"], submissions=ports["submissions"])
    if args.oauth2:
        result.update(oauth2=f"http://{LOOPBACK}:{ports['oauth2']}", oauth2_user=args.oauth2)
    line = json.dumps(result)
    write_file(layout.servers_json, line + "\n")
    print(line, flush=True)


def command_stop(args):
    layout = Layout(args.dir)
    if os.path.isdir(layout.dir):
        stop_all(layout)


def account_maildir(layout, account):
    maildir = layout.maildir(account)
    if not os.path.isdir(os.path.join(maildir, "new")):
        raise Failure(f"no Maildir for account {account!r} in {layout.dir} "
                      "(was it given to start?)")
    return maildir


def command_deliver(args):
    layout = Layout(args.dir)
    maildir = account_maildir(layout, args.account)
    info = os.stat(maildir)
    # Files we drop as root must belong to the mail user like the rest.
    owner = (info.st_uid, info.st_gid) if os.geteuid() == 0 else None
    messages = []
    for name in args.files:
        if name == "-":
            messages.append(sys.stdin.buffer.read())
            continue
        try:
            with open(name, "rb") as f:
                messages.append(f.read())
        except OSError as error:
            raise Failure(f"cannot read {name}: {error.strerror}")
    # Read them all first, so a bad name leaves the Maildir untouched.
    for data in messages:
        maildir_deliver(maildir, data, owner)


def command_count(args):
    layout = Layout(args.dir)
    maildir = account_maildir(layout, args.account)
    total = 0
    for sub in ("new", "cur"):
        total += sum(1 for entry in os.listdir(os.path.join(maildir, sub))
                     if not entry.startswith("."))
    print(total)


def command_oauth2(args):
    """Prints the authorization server's answer as one line of JSON; exits
    1 when it refused (an RFC 6749 error answer is printed all the same)."""
    layout = Layout(args.dir)
    try:
        with open(layout.servers_json) as f:
            base = json.load(f).get("oauth2")
    except (OSError, ValueError):
        base = None
    if not base:
        raise Failure(f"no authorization server runs in {layout.dir} (start it with --oauth2)")
    if args.action == "sign-in":
        status, answer = oauth2_sign_in(base)
    elif args.action == "refresh":
        token = sys.stdin.readline().strip()
        status, answer = http_json(base, "POST", "/token", {
            "grant_type": "refresh_token", "refresh_token": token, "client_id": SIGN_IN_CLIENT})
    elif args.action == "stats":
        status, answer = http_json(base, "GET", "/admin/stats")
    else:
        status, answer = http_json(base, "POST", f"/admin/{args.action}", {})
    print(json.dumps(answer), flush=True)
    if status != 200:
        sys.exit(1)


def main():
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Private POP3 and SMTP servers on 127.0.0.1 for tests and the demo.")
    sub = parser.add_subparsers(dest="command", required=True)

    start = sub.add_parser("start", help="start the servers and print their ports as JSON")
    start.add_argument("--dir", required=True)
    start.add_argument("--account", action="append", default=[], metavar="USER:PASSWORD")
    start.add_argument("--smtp-auth", choices=["optional", "required"], default="optional",
                       help="whether SMTP takes mail without a login (default: optional)")
    start.add_argument("--pop-before-smtp", action="store_true",
                       help="SMTP offers no AUTH and relays only after a POP3 login")
    start.add_argument("--submission", action="store_true",
                       help="Dovecot's SMTP submission too, relaying to the SMTP server")
    start.add_argument("--oauth2", metavar="USER",
                       help="an OAuth2 authorization server that signs in USER, whose "
                            "bearer tokens log in to POP3 and submission (XOAUTH2, "
                            "OAUTHBEARER); implies --submission")
    start.add_argument("--oauth2-access-lifetime", type=int, default=3600, metavar="SECONDS")
    refresh = start.add_mutually_exclusive_group()
    refresh.add_argument("--oauth2-rotate-refresh", action="store_true",
                         help="each refresh answers a new refresh token and revokes the old")
    refresh.add_argument("--oauth2-omit-refresh-token", action="store_true",
                         help="a refresh answers no refresh token; the old one stays good")

    stop = sub.add_parser("stop", help="stop the servers started in DIR")
    stop.add_argument("--dir", required=True)

    deliver = sub.add_parser("deliver", help="put message files (or - for stdin) in a Maildir")
    deliver.add_argument("--dir", required=True)
    deliver.add_argument("--account", required=True)
    deliver.add_argument("files", nargs="+", metavar="FILE")

    count = sub.add_parser("count", help="print how many messages an account holds")
    count.add_argument("--dir", required=True)
    count.add_argument("--account", required=True)

    oauth2 = sub.add_parser("oauth2", help="ask the authorization server of DIR; prints JSON")
    oauth2.add_argument("--dir", required=True)
    oauth2.add_argument("action", choices=["sign-in", "refresh", "expire", "revoke", "stats"],
                        help="sign-in: a whole sign-in's tokens; refresh: a refresh with the "
                             "refresh token read from stdin; expire: every access token "
                             "expires; revoke: every refresh token is revoked")

    serve = sub.add_parser("_serve")  # the background supervisor, run by start
    serve.add_argument("--dir", required=True)

    args = parser.parse_args()
    try:
        if args.command == "start":
            command_start(args)
        elif args.command == "stop":
            command_stop(args)
        elif args.command == "deliver":
            command_deliver(args)
        elif args.command == "count":
            command_count(args)
        elif args.command == "oauth2":
            command_oauth2(args)
        elif args.command == "_serve":
            supervise(args.dir)
    except Failure as error:
        note(f"error: {error}")
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    main()
