#!/usr/bin/env python3
"""One FastCGI request to a responder on a unix socket, its answer (headers
and body as the responder wrote them) on standard output. The parameters go
as given, unchecked, as a client other than the web server could send them.
  fcgi_request.py SOCKET METHOD QUERY [NAME=VALUE ...]"""
import socket
import struct
import sys


def record(kind, content):
    return struct.pack(">BBHHBx", 1, kind, 1, len(content), 0) + content


def pair(name, value):
    def length(n):
        return struct.pack(">B", n) if n < 128 else struct.pack(">I", n | 0x80000000)
    return length(len(name)) + length(len(value)) + name + value


def main():
    path, method, query = sys.argv[1:4]
    params = {"REQUEST_METHOD": method, "QUERY_STRING": query, "SERVER_PROTOCOL": "HTTP/1.1"}
    params.update(item.split("=", 1) for item in sys.argv[4:])
    body = b"".join(pair(k.encode(), v.encode()) for k, v in params.items())
    conn = socket.socket(socket.AF_UNIX)
    conn.connect(path)
    conn.sendall(record(1, struct.pack(">HB5x", 1, 0)) + record(4, body) + record(4, b"") + record(5, b""))
    data = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            break
        data += chunk
    out = b""
    while len(data) >= 8:
        _, kind, _, size, pad = struct.unpack(">BBHHB", data[:7])
        if kind == 6:  # the answer; 3 ends the request
            out += data[8:8 + size]
        data = data[8 + size + pad:]
    sys.stdout.buffer.write(out)


main()
