#!/usr/bin/env bash
# Builds umbrane.exe and starts it under Wine, with the stand-in tunnel agent
# beside it and a local update service whose reply carries an access token, so
# the tunnel comes up by itself. With no DISPLAY a private Xvfb display is
# started. The program runs until it is closed; Ctrl+C asks it to close the
# way Windows does, so its shutdown sequence runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target umbrane stand_in_warden

ROOT=$PWD/build/windows/demo-wine
session=tools/wine/wine-session.sh
source tools/wine/wine-env.sh

service_state=$PWD/build/windows/demo-update-service
cleanup() {
  bash tools/update-service/service.sh stop "$service_state"
  bash "$session" stop "$ROOT" >/dev/null
}
trap cleanup EXIT
bash tools/update-service/service.sh start "$service_state" 8808 >/dev/null
cp tools/update-service/demo-reply.ini "$service_state/reply.ini"
echo reply >"$service_state/mode"
echo "Update service on 127.0.0.1:8808 (its reply starts the tunnel)"

if [ -n "${DISPLAY:-}" ]; then
  echo "Using your display $DISPLAY"
  bash "$session" start "$ROOT"
else
  bash "$session" start "$ROOT" >/dev/null
  bash "$session" display-start "$ROOT" >/dev/null
  DISPLAY=":$(cat "$ROOT/display")"
  export DISPLAY
  echo "No DISPLAY was set: started a private Xvfb display $DISPLAY"
fi

log="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Umbrane/log.txt"
echo "Activity log: $log"
echo "Umbrane is running; press Ctrl+C to close it."

# Its own session, so that Ctrl+C reaches this script and not the program.
setsid "$WINE64" build/windows/bin/umbrane.exe </dev/null &
pid=$!
close() {
  echo
  echo "Closing Umbrane..."
  "$WINE64" taskkill /IM umbrane.exe </dev/null >/dev/null 2>&1 || true
}
trap close INT TERM
wait $pid || wait $pid || true
trap - INT TERM
echo "Umbrane has ended. Its activity log:"
cat "$log" 2>/dev/null || echo "(no log was written)"
