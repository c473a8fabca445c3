#!/usr/bin/python3
"""An HTTPS server on loopback for the provider lookup's tests.

    autoconfig_server.py --dir DIR --name HOST [--name HOST ...]

Makes a throwaway CA and a certificate for the HOST names with the same
routine the local mail servers use (mail_servers.make_certificates, with the
names put in place of localhost), then serves DIR over HTTPS on 127.0.0.1 at
a free port, and prints one JSON line: {"port": N, "ca": "DIR/tls/ca.pem"}.

A request for https://HOST/PATH is answered from DIR/www/HOST/PATH (the Host
header chooses the folder; the query is ignored). A file PATH.redirect holds
a URL and is answered with 302 to it. Anything else is 404. Stops on SIGTERM.
"""

import argparse
import http.server
import json
import os
import ssl
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mail_servers  # noqa: E402


class Handler(http.server.BaseHTTPRequestHandler):
    root = ""

    def log_message(self, *args):
        pass

    def do_GET(self):
        host = (self.headers.get("Host") or "").split(":")[0].lower()
        path = urllib.parse.urlsplit(self.path).path
        local = os.path.normpath(os.path.join(self.root, host, path.lstrip("/")))
        if not local.startswith(os.path.join(self.root, host)):
            self.send_error(403)
            return
        if os.path.isfile(local + ".redirect"):
            with open(local + ".redirect") as f:
                target = f.read().strip()
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if not os.path.isfile(local):
            self.send_error(404)
            return
        with open(local, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--name", action="append", required=True)
    args = parser.parse_args()

    layout = mail_servers.Layout(args.dir)
    names = ", ".join("DNS:" + name for name in args.name)
    mail_servers.OPENSSL_CONF = mail_servers.OPENSSL_CONF.replace(
        "subjectAltName = DNS:localhost, IP:127.0.0.1", "subjectAltName = " + names)
    mail_servers.make_certificates(layout)

    Handler.root = os.path.join(layout.dir, "www")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(layout.cert, layout.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(json.dumps({"port": server.server_address[1], "ca": layout.ca}), flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
