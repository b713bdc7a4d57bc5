#!/usr/bin/env bash
# A local relay for the tunnel agent, with Basic authentication on a loopback
# address, for the tests and the demo: tinyproxy (the default) or Squid.
# Squid keeps connections alive, and resolves names from HOSTS (a hosts file
# of the relay's own, /etc/hosts without it) so tests can name sites only
# the relay knows.
#   relay.sh start STATE_DIR ADDRESS PORT USER TOKEN [squid [HOSTS]]
#                                                   (waits until it answers)
#   relay.sh stop STATE_DIR
set -euo pipefail
cmd=${1:?command}
state=$(realpath -m "${2:?state folder}")
mkdir -p "$state"

tinyproxy_start() {
  cat >"$state/tinyproxy.conf" <<CONF
Port $port
Listen $address
Timeout 600
MaxClients 2000
BasicAuth $user $token
LogLevel Critical
CONF
  setsid tinyproxy -d -c "$state/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
  echo $! >"$state/pid"
}

squid_start() {
  local hosts=${1:-/etc/hosts}
  # Squid started by root runs as its own user, which must read these.
  chmod 755 "$state"
  cp "$(realpath "$hosts")" "$state/hosts"
  # The credentials check: one "user password" line in, OK or ERR out.
  cat >"$state/auth.sh" <<AUTH
#!/bin/sh
while read -r user pass; do
  if [ "\$user" = '$user' ] && [ "\$pass" = '$token' ]; then echo OK; else echo ERR; fi
done
AUTH
  chmod 755 "$state/auth.sh"
  chmod 644 "$state/hosts"
  cat >"$state/squid.conf" <<CONF
http_port $address:$port
visible_hostname umbrane-relay
pid_filename none
cache_log /dev/null
access_log none
cache deny all
pinger_enable off
shutdown_lifetime 0 seconds
hosts_file $state/hosts
auth_param basic program $state/auth.sh
auth_param basic children 2 startup=1
auth_param basic realm relay
acl credentials proxy_auth REQUIRED
# CONNECT to every port, every destination, for the holder of the token.
http_access allow credentials
http_access deny all
CONF
  setsid squid -N -f "$state/squid.conf" </dev/null >/dev/null 2>&1 &
  echo $! >"$state/pid"
}

case "$cmd" in
  start)
    address=${3:?address} port=${4:?port} user=${5:?user} token=${6:?token}
    kind=${7:-tinyproxy}
    case "$kind" in
      tinyproxy) tinyproxy_start ;;
      squid) squid_start "${8:-}" ;;
      *) echo "unknown relay $kind" >&2; exit 2 ;;
    esac
    for _ in $(seq 1 150); do
      if (exec 3<>"/dev/tcp/$address/$port") 2>/dev/null; then
        echo "relay ($kind) on $address:$port"
        exit 0
      fi
      sleep 0.1
    done
    echo "the relay did not start" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/pid" ]; then
      pid=$(cat "$state/pid")
      # The relay and its helpers (its own process group, from setsid) at
      # once: a relay keeps nothing worth a clean shutdown, and the port
      # must be free for the next start when this returns.
      kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do
        # Ended, or a zombie that only waits for its parent to collect it.
        grep -qs '^State:[[:space:]]*[RSDT]' "/proc/$pid/status" || break
        sleep 0.1
      done
      rm -f "$state/pid"
    fi
    ;;
  *)
    echo "usage: $0 start STATE ADDRESS PORT USER TOKEN [squid [HOSTS]] | stop STATE" >&2
    exit 2
    ;;
esac
