#!/usr/bin/env python3
"""A local RFC 3161 timestamping authority for the tests: each POST of a
timestamp query is answered by `openssl ts -reply` with the test authority's
timestamping certificate (make-certs.sh: tsa.cnf).
  timestamp_authority.py CERTS ADDRESS PORT
Prints "ready" once it listens; runs until killed."""
import http.server
import os
import subprocess
import sys
import tempfile

certs, address, port = sys.argv[1], sys.argv[2], int(sys.argv[3])


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        if self.headers.get("Content-Type") != "application/timestamp-query" or not 0 < length < 65536:
            self.send_error(400, "a timestamp query, please")
            return
        with tempfile.TemporaryDirectory() as folder:
            query, reply = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")
            with open(query, "wb") as f:
                f.write(self.rfile.read(length))
            made = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(certs, "tsa.cnf"),
                                   "-queryfile", query, "-out", reply], capture_output=True)
            if made.returncode != 0:
                sys.stderr.write(made.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts failed")
                return
            with open(reply, "rb") as f:
                body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer((address, port), Handler)
print("ready", flush=True)
server.serve_forever()
