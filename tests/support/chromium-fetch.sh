#!/usr/bin/env bash
# The host's headless Chromium loads pages through the proxy settings a Wine
# test read back from the program, with its own resolver unable to answer
# any name but the plain name "intranet" and the names under leak.example,
# which it resolves to this machine (as under DNS censorship, where the
# local network's answers cannot be trusted): a request by such a name that
# went around the tunnel reaches the local update service.
#
#   chromium-fetch.sh FOLDER
#
# FOLDER holds "proxy" (the proxy server text), "bypass" (the bypass text)
# and "urls" (one "NAME URL" a line; "https://…:TLS/" names the port of a
# throwaway HTTPS server this script starts on 127.0.0.1). Each page's DOM
# goes to NAME.html, Chromium's messages to NAME.log; "done" is written last.
set -uo pipefail
folder=$1
rm -f "$folder/done"
proxy=$(cat "$folder/proxy")
bypass=$(cat "$folder/bypass")

# The HTTPS site: a certificate made for this run only. Chromium is told to
# accept it: what is tested is the way the page takes, not its certificate.
work=$(mktemp -d)
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=www.umbrane.test" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 - "$work" "$tls_port" >/dev/null 2>&1 <<'PY' &
import http.server, ssl, sys
class Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"<html><body>Umbrane secure page</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[2])), Page)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1] + "/cert.pem", sys.argv[1] + "/key.pem")
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
PY
tls_pid=$!

while read -r name url; do
  [ -n "$name" ] || continue
  url=${url//:TLS\//:$tls_port/}
  rm -rf "$work/profile"
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --ignore-certificate-errors \
    --proxy-server="$proxy" --proxy-bypass-list="$bypass" \
    --host-resolver-rules="MAP intranet 127.0.0.1, MAP *.leak.example 127.0.0.1, MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" \
    --dump-dom "$url" >"$folder/$name.html" 2>"$folder/$name.log"
done <"$folder/urls"

kill "$tls_pid" 2>/dev/null
rm -rf "$work"
touch "$folder/done"
