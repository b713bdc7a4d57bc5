#!/usr/bin/env bash
# Runs one Windows program in the session's prefix: the test emulator of the
# windows preset (wine-run.sh ROOT PROGRAM ARGS...). A program gets the
# session's X display only when UMBRANE_WINE_DISPLAY=1 is set for it.
set -euo pipefail
ROOT=$(realpath -m "${1:?root folder}")
shift
source "$(dirname "$0")/wine-env.sh"
if [ "${UMBRANE_WINE_DISPLAY:-0}" = 1 ] && [ -f "$ROOT/display" ]; then
  export DISPLAY=":$(cat "$ROOT/display")"
else
  unset DISPLAY
fi
exec "$WINE64" "$@"
