#!/usr/bin/env python3
"""A local stand-in for the update service, for tests and the demo.

Serves GET /soa/update.php on 127.0.0.1 as the files in its state folder say:

  mode       one line: reply | html | empty | error | drop | slow SECONDS | down
             (slow waits, then answers as "reply"; drop breaks the answer off;
             down closes the port, so requests fail as with no service at
             all); "down" when missing
  reply.ini  the body of a "reply"
  requests   every request target is appended here, one per line

Any other path gets a small HTML page (the home page and the IP page of the
test builds). Only 127.0.0.1 is bound.
"""
import argparse
import http.server
import os
import socket
import socketserver
import struct
import threading
import time


def make_handler(state):
    def read(name, default=""):
        try:
            with open(os.path.join(state, name), "rb") as f:
                return f.read()
        except OSError:
            return default.encode()

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

        def do_GET(self):
            with open(os.path.join(state, "requests"), "a") as log:
                log.write(self.path + "\n")
            if not self.path.startswith("/soa/update.php"):
                self.send_body(200, b"<html><body>Umbrane test page</body></html>", "text/html")
                return
            mode = read("mode", "down").decode().strip().split()
            kind = mode[0] if mode else "drop"
            if kind == "slow":
                time.sleep(float(mode[1]) if len(mode) > 1 else 2)
                kind = "reply"
            if kind == "reply":
                self.send_body(200, read("reply.ini"))
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


def mode_is_down(state):
    try:
        with open(os.path.join(state, "mode")) as f:
            return f.read().strip() in ("", "down")
    except OSError:
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--port", type=int, default=8808)
    parser.add_argument("--state", required=True)
    args = parser.parse_args()
    os.makedirs(args.state, exist_ok=True)
    open(os.path.join(args.state, "ready"), "w").close()
    server = None
    # The port is open exactly while the mode is not "down".
    while True:
        down = mode_is_down(args.state)
        if down and server:
            server.shutdown()
            server.server_close()
            server = None
        elif not down and not server:
            server = Server(("127.0.0.1", args.port), make_handler(args.state))
            threading.Thread(target=server.serve_forever, daemon=True).start()
        time.sleep(0.05)


if __name__ == "__main__":
    main()
