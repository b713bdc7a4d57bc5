#!/usr/bin/env bash
# A local relay for the tunnel agent: tinyproxy with Basic authentication on
# a loopback address, for the end-to-end tests and the demo.
#   relay.sh start STATE_DIR ADDRESS PORT USER TOKEN   (waits until it answers)
#   relay.sh stop STATE_DIR
set -euo pipefail
cmd=${1:?command}
state=$(realpath -m "${2:?state folder}")
mkdir -p "$state"
case "$cmd" in
  start)
    address=${3:?address} port=${4:?port} user=${5:?user} token=${6:?token}
    cat >"$state/tinyproxy.conf" <<CONF
Port $port
Listen $address
Timeout 600
MaxClients 1000
BasicAuth $user $token
LogLevel Critical
CONF
    setsid tinyproxy -d -c "$state/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/pid"
    for _ in $(seq 1 100); do
      if (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; then
        echo "relay (tinyproxy) on $address:$port"
        exit 0
      fi
      sleep 0.1
    done
    echo "the relay did not start" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/pid" ]; then
      kill "$(cat "$state/pid")" 2>/dev/null || true
      rm -f "$state/pid"
    fi
    ;;
  *)
    echo "usage: $0 start STATE ADDRESS PORT USER TOKEN | stop STATE" >&2
    exit 2
    ;;
esac
