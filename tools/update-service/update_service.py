#!/usr/bin/env python3
"""A local stand-in for the update service, for tests and the demo.

Serves GET /soa/update.php on 127.0.0.1 over HTTPS (with --cert and --key;
plain HTTP without them), and every page over plain HTTP on the next port
too, as the files in its state folder say:

  mode       one line: reply | html | empty | error | drop | slow SECONDS |
             endless | huge | untrusted | impostor | down
             (slow waits, then answers as "reply"; drop breaks the answer off;
             endless sends a byte a second and never ends; huge is a reply
             of 1 MiB; untrusted answers as "reply" behind the self-signed
             certificate of --untrusted-cert and --untrusted-key; impostor
             behind --impostor-cert, from the trusted authority but with
             another key than the pinned one; down closes the ports, so
             requests fail as with no service at all); "down" when missing
  reply.ini  what a "reply" says: its NewVersion, Key and Relays values
  signing    how a reply is signed, words (none: with --signing-keys'
             update.key, for the request's identifiers, holding an hour,
             numbered by the time in milliseconds): "backup" or "other" signs
             with update-backup.key or update-other.key; "unsigned" sends
             reply.ini as it stands; "expired" makes it an hour past its
             end; "machine" answers another machine's id; "serial N" numbers
             it N
  requests   every request target is appended here, one per line
  tunnels    every CONNECT's target, one per line: the plain port is also a
             proxy whose tunnels all lead to this service's own port

Any other path gets a small HTML page (the home page and the IP page of the
test builds). Only 127.0.0.1 is bound.
"""
import argparse
import http.server
import os
import re
import select
import socket
import socketserver
import ssl
import struct
import threading
import time

import sign_reply

# Names a web page could give its images to reach the user around the
# tunnel, were the bypass list read as host-name patterns: one under each
# private range's prefix, and a plain name.
LEAK_NAMES = ["10.leak.example", "172.16.leak.example", "192.168.leak.example",
              "169.254.leak.example", "intranet"]


def make_handler(state, signing_keys):
    def read(name, default=""):
        try:
            with open(os.path.join(state, name), "rb") as f:
                return f.read()
        except OSError:
            return default.encode()

    def reply_for(target):
        """reply.ini, signed for the request `target` as the state says."""
        words = read("signing").decode().split()
        if "unsigned" in words or not signing_keys:
            return read("reply.ini")
        values = {}
        for line in read("reply.ini").decode("latin-1").splitlines():
            name, equals, value = line.partition("=")
            if equals and name.strip() in ("NewVersion", "Key", "Relays"):
                values.setdefault(name.strip(), value.strip())
        asked = re.match(r"^[^?]*\?id=(.*)&sn=(.*)&version=(.*)&language=", target)
        values["Id"], values["Sn"], values["Version"] = asked.groups() if asked else ("", "", "")
        if "machine" in words:
            values["Id"] += "1"
        now = int(time.time()) - (7200 if "expired" in words else 0)
        values["Issued"], values["Expires"] = now, now + 3600
        values["Serial"] = int(time.time() * 1000)
        if "serial" in words:
            values["Serial"] = int(words[words.index("serial") + 1])
        signer = "update"
        for other in ("backup", "other"):
            if other in words:
                signer = "update-" + other
        key = os.path.join(signing_keys, signer + ".key")
        return sign_reply.sign(values, key).encode("latin-1")

    class Handler(http.server.BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def send_body(self, code, body, kind="text/plain"):
            self.send_response(code)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            # The reply carries an access token: no cache on the way may keep
            # it and hand an old one back later.
            self.send_header("Cache-Control", "no-store")
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)

        def do_CONNECT(self):
            """A proxy's tunnel, to this service's own port whatever the name."""
            with open(os.path.join(state, "tunnels"), "a") as log:
                log.write(self.path + "\n")
            try:
                port = int(self.path.rsplit(":", 1)[1])
                upstream = socket.create_connection(("127.0.0.1", port), timeout=10)
            except (ValueError, IndexError, OSError):
                self.send_body(502, b"no tunnel")
                return
            self.send_response(200, "Connection established")
            self.end_headers()
            self.close_connection = True
            ends = [self.connection, upstream]
            try:
                while True:
                    ready, _, _ = select.select(ends, [], [], 30)
                    if not ready:
                        return
                    for end in ready:
                        data = end.recv(65536)
                        if not data:
                            return
                        (upstream if end is self.connection else self.connection).sendall(data)
            except OSError:
                return
            finally:
                upstream.close()

        def do_GET(self):
            with open(os.path.join(state, "requests"), "a") as log:
                log.write(self.path + "\n")
            if self.path.startswith("/leak-page"):
                # Images named like the private ranges' old patterns, and a
                # plain name: a browser that fetched one around the tunnel
                # would ask this service for /leak-NAME.
                port = self.server.server_address[1]
                images = "".join('<img src="http://%s:%d/leak-%s.png">' % (name, port, name)
                                 for name in LEAK_NAMES)
                self.send_body(200, ("<html><body>Umbrane leak page" + images +
                                     "</body></html>").encode(), "text/html")
                return
            if not self.path.startswith("/soa/update.php"):
                self.send_body(200, b"<html><body>Umbrane test page</body></html>", "text/html")
                return
            mode = read("mode", "down").decode().strip().split()
            kind = mode[0] if mode else "drop"
            if kind == "slow":
                time.sleep(float(mode[1]) if len(mode) > 1 else 2)
                kind = "reply"
            if kind == "endless":
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.end_headers()
                try:
                    self.wfile.write(b"[Update]\r\n")
                    while True:
                        self.wfile.flush()
                        time.sleep(1)
                        self.wfile.write(b";")
                except OSError:
                    return
            if kind == "huge":
                self.send_body(200, read("reply.ini") + b";" * (1 << 20) + b"\r\n")
            elif kind in ("reply", "untrusted", "impostor"):
                self.send_body(200, reply_for(self.path))
            elif kind == "html":
                self.send_body(200, b"<html><body>Service moved</body></html>", "text/html")
            elif kind == "empty":
                self.send_body(200, b"")
            elif kind == "error":
                self.send_body(404, b"not found")
            else:  # drop: the answer breaks off in the middle, then a reset
                self.close_connection = True
                self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 4096\r\n\r\n[Upd")
                self.wfile.flush()
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
                self.connection.close()

    return Handler


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    contexts = None  # mode name -> TLS context; None: plain HTTP
    state = ""

    def get_request(self):
        connection, address = self.socket.accept()
        if self.contexts is None:
            return connection, address
        mode = current_mode(self.state)
        mode = mode if mode in ("untrusted", "impostor") else "trusted"
        # The handshake happens in the connection's own thread, not here.
        return self.contexts[mode].wrap_socket(connection, server_side=True,
                                                do_handshake_on_connect=False), address


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def current_mode(state):
    try:
        with open(os.path.join(state, "mode")) as f:
            return f.read().strip().split(" ")[0]
    except OSError:
        return "down"


def mode_is_down(state):
    return current_mode(state) in ("", "down")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=8808)
    parser.add_argument("--state", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--untrusted-cert")
    parser.add_argument("--untrusted-key")
    parser.add_argument("--impostor-cert")
    parser.add_argument("--impostor-key")
    parser.add_argument("--signing-keys", help="the folder of update.key and the others")
    args = parser.parse_args()
    os.makedirs(args.state, exist_ok=True)
    contexts = None
    if args.cert:
        contexts = {"trusted": tls_context(args.cert, args.key),
                    "untrusted": tls_context(args.untrusted_cert or args.cert,
                                             args.untrusted_key or args.key),
                    "impostor": tls_context(args.impostor_cert or args.cert,
                                            args.impostor_key or args.key)}
    open(os.path.join(args.state, "ready"), "w").close()
    servers = []
    # The ports are open exactly while the mode is not "down".
    while True:
        down = mode_is_down(args.state)
        if down and servers:
            for server in servers:
                server.shutdown()
                server.server_close()
            servers = []
        elif not down and not servers:
            for port, tls in ((args.port, contexts), (args.port + 1, None)):
                server = Server(("127.0.0.1", port), make_handler(args.state, args.signing_keys))
                server.contexts = tls
                server.state = args.state
                threading.Thread(target=server.serve_forever, daemon=True).start()
                servers.append(server)
        time.sleep(0.05)


if __name__ == "__main__":
    main()
