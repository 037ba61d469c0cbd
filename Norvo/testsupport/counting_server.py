#!/usr/bin/env python3
"""Plain HTTP on 127.0.0.1 that writes every request path to a log file and
answers 200 with a tiny PNG. Prints "READY <port>" once it listens."""
import base64
import http.server
import sys

PNG = base64.b64decode("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==")


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(sys.argv[1], "a") as log:
            log.write(self.path + "\n")
        self.send_response(200)
        self.send_header("Content-Type", "image/png")
        self.send_header("Content-Length", str(len(PNG)))
        self.end_headers()
        self.wfile.write(PNG)


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(f"READY {server.server_address[1]}", flush=True)
server.serve_forever()
