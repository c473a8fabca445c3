#!/usr/bin/python3
"""The tests' web browser for OAuth2 sign-ins, given to the program as $BROWSER.

    oauth_browser.py AUTHORIZE_URL

Appends the URL as one line to the file named by $OAUTH_BROWSER_LOG (when
set), so that a test can tell whether and how often the browser was
opened; then requests the URL without following its redirect, as a user's
browser would show the provider's page, and requests the Location it
answered: the program's loopback listener, which receives the code.

Only a Location on this machine is followed: whatever the test server
answers, nothing leaves the machine.  Exits 0 once the listener answered,
1 with the reason on stderr otherwise.
"""

import ipaddress
import os
import sys
import urllib.error
import urllib.request
from urllib.parse import urljoin, urlsplit

TIMEOUT = 10


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def on_this_machine(url):
    parts = urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        return False
    if parts.hostname == "localhost":
        return True
    try:
        return ipaddress.ip_address(parts.hostname).is_loopback
    except ValueError:
        return False


def log_call(url):
    path = os.environ.get("OAUTH_BROWSER_LOG")
    if path:
        with open(path, "a", encoding="utf-8") as log:
            log.write(url.replace("\n", " ") + "\n")


def fetch_status(opener, url):
    """(status, Location) of a GET of url."""
    try:
        with opener.open(url, timeout=TIMEOUT) as reply:
            reply.read()
            return reply.status, reply.headers.get("Location")
    except urllib.error.HTTPError as error:
        error.read()
        return error.code, error.headers.get("Location")


def main():
    if len(sys.argv) != 2:
        print("usage: oauth_browser.py URL", file=sys.stderr)
        return 2
    url = sys.argv[1]
    log_call(url)
    if not on_this_machine(url):
        print(f"oauth_browser: not a URL on this machine: {url}", file=sys.stderr)
        return 1
    opener = urllib.request.build_opener(NoRedirect)
    try:
        status, location = fetch_status(opener, url)
        if status not in (301, 302, 303, 307, 308) or not location:
            print(f"oauth_browser: the authorization page answered {status}, no redirect",
                  file=sys.stderr)
            return 1
        target = urljoin(url, location)
        if not on_this_machine(target):
            print(f"oauth_browser: the redirect leaves this machine: {target}", file=sys.stderr)
            return 1
        status, _ = fetch_status(opener, target)
    except OSError as error:
        print(f"oauth_browser: {error}", file=sys.stderr)
        return 1
    if status >= 400:
        print(f"oauth_browser: the redirect target answered {status}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
