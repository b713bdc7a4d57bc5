#!/usr/bin/env bash
# The live demo: a complete local system on this machine, under Wine.
#   - a relay: tinyproxy with Basic authentication behind stunnel's TLS on
#     127.0.0.2:80, its certificate from a throwaway authority made for this
#     build (build/windows/test-pki), trusted only inside the demo's own
#     Wine prefix: the machine's own trust is never changed;
#   - the local update service over HTTPS, whose reply carries the
#     enciphered access token for that relay, and which also serves a small
#     web page (plain HTTP on 8809);
#   - umbrane.exe with the tunnel agent warden.exe beside it, which knows
#     the relay by its pinned key (the authority's trust is for the update
#     service's HTTPS).
# The update reply starts the tunnel by itself; the script waits for
# "Umbrane ON", fetches the page through 127.0.0.1:7070 to prove the path,
# saves a screenshot, and on Ctrl+C closes Umbrane the way Windows asks a
# program to close (so the browsers are put back) and stops everything.
# With no DISPLAY a private Xvfb display is started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target umbrane warden_pinned wine_screenshot \
  wine_trust_ca

build=$PWD/build/windows
ROOT=$build/demo-wine
app=$build/demo-app
service_state=$build/demo-update-service
relay_state=$build/demo-relay
pki=$build/test-pki
session=tools/wine/wine-session.sh
source tools/wine/wine-env.sh

cleanup() {
  bash tools/relay/relay.sh stop "$relay_state"
  bash tools/update-service/service.sh stop "$service_state"
  bash "$session" stop "$ROOT" >/dev/null
}
trap cleanup EXIT

# The program folder: umbrane.exe, its files, and the real agent, pinned to
# the relay's key as a release is (the test preset's plain agent would trust
# every root of the prefix instead).
rm -rf "$app"
mkdir -p "$app"
cp -r "$build/bin/umbrane.exe" "$build/bin/umbrane-guard.exe" "$build/bin/default.skn" "$build/bin/lang" "$app/"
[ -f "$build/bin/help.chm" ] && cp "$build/bin/help.chm" "$app/"
cp "$build/agent/warden-pinned.exe" "$app/warden.exe"

# The demo's web page lives on this machine: the relay lets "localhost"
# through and nothing else of its own network.
RELAY_CERT=$pki/relay.pem RELAY_KEY=$pki/relay.key RELAY_RECORD=$relay_state/wire.bin \
  RELAY_OPEN=localhost bash tools/relay/relay.sh start "$relay_state" 127.0.0.2 80 publicuser umbrane-demo
bash tools/update-service/service.sh start "$service_state" 8808 "$pki" >/dev/null
cp tools/update-service/demo-reply.ini "$service_state/reply.ini"
echo reply >"$service_state/mode"
echo "Update service on https://localhost:8808 (its reply carries the token for the relay)"

if [ -n "${DISPLAY:-}" ]; then
  echo "Using your display $DISPLAY"
  bash "$session" start "$ROOT" "$build/tests/wine_trust_ca.exe" "$pki/ca.pem"
else
  bash "$session" start "$ROOT" "$build/tests/wine_trust_ca.exe" "$pki/ca.pem" >/dev/null
  bash "$session" display-start "$ROOT" >/dev/null
  DISPLAY=":$(cat "$ROOT/display")"
  export DISPLAY
  echo "No DISPLAY was set: started a private Xvfb display $DISPLAY"
fi

log="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Umbrane/log.txt"
echo "Activity log: $log"
# Its own session, so that Ctrl+C reaches this script and not the program.
setsid "$WINE64" "$app/umbrane.exe" </dev/null &
pid=$!
close() {
  echo
  echo "Closing Umbrane..."
  "$WINE64" taskkill /IM umbrane.exe </dev/null >/dev/null 2>&1 || true
}
trap close INT TERM

for _ in $(seq 1 300); do
  grep -q "Umbrane ON" "$log" 2>/dev/null && break
  sleep 0.1
done
if grep -q "Umbrane ON" "$log" 2>/dev/null; then
  echo "Umbrane is ON: the system proxy points at 127.0.0.1:7070."
  python3 - <<'PY'
import socket
# As the browsers send it: an HTTP proxy request naming the site, whose
# name is resolved at the relay.
s = socket.create_connection(("127.0.0.1", 7070), timeout=10)
s.sendall(b"GET http://localhost:8809/hello-through-the-tunnel HTTP/1.1\r\n"
          b"Host: localhost:8809\r\nConnection: close\r\n\r\n")
answer = b""
while True:
    chunk = s.recv(4096)
    if not chunk:
        break
    answer += chunk
print("Fetched through 127.0.0.1:7070 -> warden -> TLS -> stunnel -> tinyproxy -> local server:",
      answer.split(b"\r\n")[0].decode())
PY
  wire=$relay_state/wire.bin
  if grep -aq "hello-through-the-tunnel\|CONNECT\|umbrane-demo" "$wire"; then
    echo "Between warden and the relay something travelled in clear!"
  else
    echo "Between warden and the relay: $(stat -c %s "$wire") bytes of TLS, nothing in clear ($wire)."
  fi
  sleep 2.5  # Wine shows a balloon two seconds after it is asked for
  "$WINE64" "$build/tests/wine_screenshot.exe" "Z:${build//\//\\}\\demo-screenshot.png" </dev/null \
    >/dev/null 2>&1 && echo "Screenshot: $build/demo-screenshot.png"
else
  echo "Umbrane did not report ON; see the log."
fi
echo "Umbrane is running; press Ctrl+C to close it."
wait $pid || wait $pid || true
trap - INT TERM
echo "Umbrane has ended. Its activity log:"
cat "$log" 2>/dev/null || echo "(no log was written)"
