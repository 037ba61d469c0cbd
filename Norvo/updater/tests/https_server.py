#!/usr/bin/env python3
"""A throwaway HTTPS server for tests on 127.0.0.1: https_server.py ROOT CERTS

It makes a private CA and a server certificate for 127.0.0.1 with openssl,
serves the files of ROOT, and a few routes under /_test/ that misbehave on
purpose. It prints "READY <port>" once it listens; the CA is ca.pem in CERTS.
"""
import http.server
import os
import ssl
import subprocess
import sys
import time

MANIFEST = b'{"version":"9.0","url":"https://127.0.0.1/Norvo-9.0.zip","notes":"test"}'


def make_certs(folder):
    def run(*args):
        subprocess.run(["openssl", *args], check=True, cwd=folder,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Elliptic-curve keys: made in milliseconds, where RSA keys take a good part of a second.
    ec = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1"]
    run("req", "-x509", *ec, "-nodes", "-days", "2", "-subj", "/CN=Norvo Test CA",
        "-keyout", "ca.key", "-out", "ca.pem")
    with open(os.path.join(folder, "ext.cnf"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    run("req", *ec, "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", "server.key",
        "-out", "server.csr")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "ext.cnf", "-out", "server.pem")


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=(), announce_length=True):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if announce_length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        port = self.server.server_address[1]
        routes = {
            "/_test/manifest": lambda: self.reply(200, MANIFEST),
            "/_test/manifest-404": lambda: self.reply(404, MANIFEST),
            "/_test/to-http": lambda: self.reply(302, b"", [("Location", f"http://127.0.0.1:{port}/_test/manifest")]),
            "/_test/to-https": lambda: self.reply(302, b"", [("Location", "/_test/manifest")]),
            "/_test/loop": lambda: self.reply(302, b"", [("Location", "/_test/loop")]),
            # No length up front: the client must cap the body while it arrives.
            "/_test/big": lambda: self.reply(200, MANIFEST + b" " * (2 << 20), announce_length=False),
            "/_test/slow": self.slow,
            "/_test/trickle": self.trickle,
        }
        route = routes.get(self.path.split("?")[0])
        if route:
            route()
        else:
            super().do_GET()

    def trickle(self):
        self.send_response(200)
        self.send_header("Content-Length", "100000")
        self.end_headers()
        for _ in range(60):
            self.wfile.write(b"P")
            self.wfile.flush()
            time.sleep(0.5)

    def slow(self):
        time.sleep(3)
        self.reply(200, MANIFEST)


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients that hang up on purpose are the point of several routes


def main(root, certs):
    make_certs(certs)
    server = QuietServer(("127.0.0.1", 0), lambda *a, **k: Handler(*a, directory=root, **k))
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"))
    server.socket = ctx.wrap_socket(server.socket, server_side=True)
    print(f"READY {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
