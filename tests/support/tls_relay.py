#!/usr/bin/env python3
"""TLS fronts for the tests' plain HTTP servers.

Each front listens on 127.<octet>.<group>.<kind>:443 and relays the bytes of
every TLS connection to 127.<octet>.<group>.<kind + 100>:80, where a test's
own scriptable server answers. So any plain script of the tests also runs over
TLS, and a plain server on the front's own address, port 80, sees what a
client sends after a downgrade. The kind decides the certificate:
  1 good, 2 untrusted authority, 3 wrong name, 4 expired, 5 self-signed,
  6 good but TLS 1.3 only.
  tls_relay.py CERTS LOG OCTET GROUP...
"""
import os
import select
import socket
import ssl
import sys
import threading

KINDS = {1: "good", 2: "untrusted", 3: "wrongname", 4: "expired", 5: "selfsigned", 6: "good"}


def context_for(certs, kind):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    name = KINDS[kind]
    context.load_cert_chain(os.path.join(certs, name + ".chain.pem"), os.path.join(certs, name + ".key"))
    if kind == 6:
        context.minimum_version = ssl.TLSVersion.TLSv1_3
    return context


def relay(tls, back):
    """Copies both ways until either side closes or an hour of silence."""
    while True:
        ready = [tls] if tls.pending() else select.select([tls, back], [], [], 3600)[0]
        if not ready:
            return
        for source in ready:
            target = back if source is tls else tls
            try:
                data = source.recv(65536)
            except (ssl.SSLWantReadError, ssl.SSLWantWriteError):
                continue
            if not data:
                return
            target.sendall(data)


def handle(connection, context, backend, log, front):
    tls = back = None
    try:
        connection.settimeout(10)
        tls = context.wrap_socket(connection, server_side=True)
        log("%s handshake %s" % (front, tls.version()))
        back = socket.create_connection(backend, timeout=5)
        back.settimeout(None)
        tls.settimeout(None)
        relay(tls, back)
    except (OSError, ssl.SSLError) as error:
        log("%s ended: %s" % (front, error))
    finally:
        for s in (back, tls or connection):
            if s is None:
                continue
            try:
                s.close()
            except OSError:
                pass


def serve(listener, context, backend, log, front):
    while True:
        connection, _ = listener.accept()
        threading.Thread(target=handle, args=(connection, context, backend, log, front), daemon=True).start()


def main():
    certs, log_path, octet = sys.argv[1], sys.argv[2], int(sys.argv[3])
    log_file = open(log_path, "a", buffering=1)
    lock = threading.Lock()

    def log(text):
        with lock:
            log_file.write(text + "\n")

    threads = []
    for group in (int(g) for g in sys.argv[4:]):
        for kind in KINDS:
            front = "127.%d.%d.%d" % (octet, group, kind)
            listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind((front, 443))
            listener.listen(64)
            backend = ("127.%d.%d.%d" % (octet, group, kind + 100), 80)
            thread = threading.Thread(target=serve, args=(listener, context_for(certs, kind), backend, log, front),
                                      daemon=True)
            thread.start()
            threads.append(thread)
    log("listening")
    for thread in threads:
        thread.join()


if __name__ == "__main__":
    main()
