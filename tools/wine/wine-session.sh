#!/usr/bin/env bash
# The Wine session of a test run or of the demo.
#
#   wine-session.sh start ROOT [TRUST CA]      fresh prefix, persistent server;
#                                              TRUST (trust-ca.exe) adds CA
#                                              to the prefix's root store
#   wine-session.sh display-start ROOT [EXE]   private Xvfb display (+ keep-alive EXE)
#   wine-session.sh stop ROOT                  end the server and the display
#
# Everything Wine starts in the background gets its standard streams from
# /dev/null: helper processes that inherit a caller's pipe keep ctest waiting.
set -euo pipefail
cmd=${1:?command}
ROOT=$(realpath -m "${2:?root folder}")
mkdir -p "$ROOT"
source "$(dirname "$0")/wine-env.sh"
TEMPLATE="$ROOT/template"

quiet() { "$@" </dev/null >/dev/null 2>&1; }

# The prefix is made once per build tree, with the settings tests need:
# no crash dialog (it would block until the time-out) and unmanaged windows
# (without a window manager, hiding a dialog stalls for two seconds).
make_template() {
  [ -f "$TEMPLATE/.ready" ] && return 0
  rm -rf "$TEMPLATE"
  mkdir -p "$TEMPLATE"
  WINEPREFIX="$TEMPLATE" quiet "$WINE64" wineboot -i
  WINEPREFIX="$TEMPLATE" quiet "$WINE64" reg add 'HKCU\Software\Wine\WineDbg' \
    /v ShowCrashDialog /t REG_DWORD /d 0 /f
  WINEPREFIX="$TEMPLATE" quiet "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' \
    /v Managed /t REG_SZ /d N /f
  WINEPREFIX="$TEMPLATE" quiet "$WINESERVER64" -k || true
  WINEPREFIX="$TEMPLATE" quiet "$WINESERVER64" -w || true
  touch "$TEMPLATE/.ready"
}

# A persistent server stays up between test programs instead of starting
# (and booting the prefix's helper processes) for each one.
start_server() {
  set +e
  quiet "$WINESERVER64" -p
  local rc=$?
  set -e
  if [ $rc -ne 0 ] && [ $rc -ne 2 ]; then
    echo "wineserver did not start (exit $rc)" >&2
    exit 1
  fi
}

stop_server() {
  quiet "$WINESERVER64" -k || true
  quiet timeout 30 "$WINESERVER64" -w || true
}

start_session() {
  exec 9>"$ROOT/.lock"
  flock 9
  stop_server
  make_template
  # Each session starts from a copy of the template (under a second), so no
  # run sees the registry, files or proxy settings of an earlier one.
  rm -rf "$WINEPREFIX"
  cp -a "$TEMPLATE" "$WINEPREFIX"
  start_server
  quiet "$WINE64" wineboot
  if [ -n "${1:-}" ]; then
    "$WINE64" "$1" "${2:?authority certificate}" </dev/null
  fi
  echo "Wine session ready: WINEPREFIX=$WINEPREFIX"
}

free_display() {
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
      echo "$n"
      return 0
    fi
  done
  echo "no free X display number" >&2
  return 1
}

start_display() {
  local keepalive=${1:-}
  local n i
  n=$(free_display)
  setsid Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  echo $! >"$ROOT/xvfb.pid"
  for i in $(seq 1 100); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  if [ ! -e "/tmp/.X11-unix/X$n" ]; then
    echo "Xvfb :$n did not come up" >&2
    exit 1
  fi
  echo "$n" >"$ROOT/display"
  # Wine's desktop process keeps the display it was started with, and the
  # session's first one started without any: restart the server so that the
  # desktop runs on this display.
  stop_server
  start_server
  DISPLAY=":$n" quiet "$WINE64" wineboot
  if [ -n "$keepalive" ]; then
    # One long-running GUI program keeps the desktop process alive, so it is
    # not started and ended inside every GUI test.
    DISPLAY=":$n" setsid "$WINE64" "$keepalive" </dev/null >/dev/null 2>&1 &
    echo $! >"$ROOT/keepalive.pid"
  fi
  echo "Xvfb display :$n ready"
}

stop_session() {
  stop_server
  local f
  for f in keepalive xvfb; do
    if [ -f "$ROOT/$f.pid" ]; then
      kill "$(cat "$ROOT/$f.pid")" 2>/dev/null || true
      rm -f "$ROOT/$f.pid"
    fi
  done
  rm -f "$ROOT/display"
  echo "Wine session stopped"
}

case "$cmd" in
  start) start_session "${3:-}" "${4:-}" ;;
  display-start) start_display "${3:-}" ;;
  stop) stop_session ;;
  *)
    echo "usage: $0 start|display-start|stop ROOT [KEEPALIVE]" >&2
    exit 2
    ;;
esac
