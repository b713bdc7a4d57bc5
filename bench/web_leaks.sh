#!/usr/bin/env bash
# What a page can still learn around the proxy, measured with the real
# browsers on this machine (Debian's chromium; firefox-esr when installed),
# everything on the loopback: the STUN datagrams a page's WebRTC sends
# straight to its STUN server, with and without the setting that keeps
# WebRTC to the proxy, and the DNS packets a page load through the proxy
# sends (strace when installed) beside what Chromium's net log says of its
# own look-ups of the page's name.
#
#   bash bench/web_leaks.sh
set -uo pipefail
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
page_port=$(free_port)
stun_port=$(free_port)
proxy_port=$(free_port)

# The page that gathers WebRTC candidates with a STUN server on this
# machine, the STUN server (it only counts datagrams), and a stand-in proxy
# that answers every request with a small page of its own.
python3 - "$work" "$page_port" "$stun_port" "$proxy_port" <<'PY' &
import http.server, socket, sys, threading
work, page_port, stun_port, proxy_port = sys.argv[1], *map(int, sys.argv[2:])
import os
def stun():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("127.0.0.1", stun_port))
    count = 0
    while True:
        s.recvfrom(2048)
        # A new count for each load: the script removes the file before it.
        count = count + 1 if os.path.exists(work + "/datagrams") else 1
        open(work + "/datagrams", "w").write(str(count))
threading.Thread(target=stun, daemon=True).start()
page = ("<html><body><script>const pc = new RTCPeerConnection({iceServers: "
        "[{urls: 'stun:127.0.0.1:%d'}]}); pc.createDataChannel('x');"
        "pc.createOffer().then(o => pc.setLocalDescription(o));</script></body></html>"
        % stun_port).encode()
plain = b"<html><body>a page by name</body></html>"
def server(port, body):
    class Page(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
        def log_message(self, *args):
            pass
    running = http.server.ThreadingHTTPServer(("127.0.0.1", port), Page)
    threading.Thread(target=running.serve_forever, daemon=True).start()
server(page_port, page)
server(proxy_port, plain)
threading.Event().wait()
PY
sleep 1

datagrams() { cat "$work/datagrams" 2>/dev/null || echo 0; }

chromium_run() {  # PREFERENCES-JSON, then chromium's own arguments
  rm -rf "$work/chromium" "$work/datagrams"
  mkdir -p "$work/chromium/Default"
  [ -n "$1" ] && echo "$1" >"$work/chromium/Default/Preferences"
  shift
  timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/chromium" --virtual-time-budget=5000 "$@" >/dev/null 2>&1
}

echo "WebRTC: datagrams sent straight to a page's STUN server (3 page loads each)"
for setting in none switch preference; do
  total=""
  for _ in 1 2 3; do
    case $setting in
      none) chromium_run "" --proxy-server="http://127.0.0.1:$proxy_port" --dump-dom \
        "http://127.0.0.1:$page_port/" ;;
      switch) chromium_run "" --proxy-server="http://127.0.0.1:$proxy_port" \
        --force-webrtc-ip-handling-policy=disable_non_proxied_udp --dump-dom \
        "http://127.0.0.1:$page_port/" ;;
      preference) chromium_run '{"webrtc":{"ip_handling_policy":"disable_non_proxied_udp"}}' \
        --proxy-server="http://127.0.0.1:$proxy_port" --dump-dom "http://127.0.0.1:$page_port/" ;;
    esac
    total="$total $(datagrams)"
  done
  printf '  chromium, %-66s%s\n' "$(case $setting in
    none) echo "nothing set:" ;;
    switch) echo "--force-webrtc-ip-handling-policy=disable_non_proxied_udp:" ;;
    preference) echo "webrtc.ip_handling_policy = disable_non_proxied_udp (the policy's pref):" ;;
  esac)" "$total"
done

if command -v firefox-esr >/dev/null; then
  for setting in "" 'user_pref("media.peerconnection.ice.proxy_only", true);'; do
    total=""
    for _ in 1 2 3; do
      rm -rf "$work/firefox" "$work/datagrams"
      mkdir -p "$work/firefox"
      # Its ICE leaves the loopback out unless told: the STUN server is here.
      cat >"$work/firefox/user.js" <<EOF
user_pref("network.proxy.type", 1);
user_pref("network.proxy.http", "127.0.0.1");
user_pref("network.proxy.http_port", $proxy_port);
user_pref("media.peerconnection.ice.loopback", true);
$setting
EOF
      HOME="$work" timeout 12 firefox-esr --headless --no-remote --profile "$work/firefox" \
        "http://127.0.0.1:$page_port/" >/dev/null 2>&1
      total="$total $(datagrams)"
    done
    printf '  firefox-esr, %-63s%s\n' "${setting:-nothing set:}" "$total"
  done
fi

echo
echo "a page by name through the proxy: Chromium's look-ups of its name"
rm -rf "$work/chromium"
tracer=()
command -v strace >/dev/null && tracer=(strace -f -qq -e trace=connect,sendto,sendmmsg -o "$work/trace")
"${tracer[@]}" timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic \
  --no-first-run --disable-background-networking --disable-component-update --disable-sync \
  --user-data-dir="$work/chromium" --proxy-server="http://127.0.0.1:$proxy_port" \
  --log-net-log="$work/net.json" --net-log-capture-mode=Everything \
  --dump-dom http://www.leak-visit.test/ >/dev/null 2>&1
python3 - "$work/net.json" <<'PY'
import json, sys
log = json.load(open(sys.argv[1]))
types = {v: k for k, v in log["constants"]["logEventTypes"].items()}
sources = {v: k for k, v in log["constants"]["logSourceType"].items()}
asked = [e for e in log["events"] if types[e["type"]] == "HOST_RESOLVER_MANAGER_REQUEST"
         and (e.get("params") or {}).get("host", "").endswith("leak-visit.test")]
tasks = [e["params"]["tasks"] for e in log["events"]
         if types[e["type"]] == "HOST_RESOLVER_MANAGER_TASK_SEQUENCE_CREATED"
         and sources[e["source"]["type"]] == "NETWORK_QUALITY_ESTIMATOR"]
print("  net log: %d request(s) for the page's name; the estimator's task sequences %s"
      " (no DNS task, 1, nor system resolver task, 0)" % (len(asked), tasks))
PY
if [ -f "$work/trace" ]; then
  echo "  DNS packets sent during the load: $(grep -c 'htons(53)' "$work/trace")" \
    "(name server: $(awk '/^nameserver/ {print $2; exit}' /etc/resolv.conf))"
else
  echo "  (strace is not installed: DNS packets not counted)"
fi
