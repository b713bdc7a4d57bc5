#!/usr/bin/env bash
# A local relay for the tunnel agent, with Basic authentication on a loopback
# address, for the tests and the demo: tinyproxy (the default) or Squid.
# Squid keeps connections alive, and resolves names from HOSTS (a hosts file
# of the relay's own, /etc/hosts without it) so tests can name sites only
# the relay knows.
# With RELAY_CERT and RELAY_KEY set (PEM files), the relay speaks TLS on
# ADDRESS:PORT: stunnel there, in front of the relay on a free loopback port.
# `tls` puts stunnel in front of a server already listening on 127.0.0.1:BACK.
# The relay keeps its own network to itself: it refuses destinations on
# loopback, link-local and private ranges and its own address, also when a
# name resolves there (Squid checks the address it resolved; tinyproxy,
# which cannot, lets nothing through but the names below). RELAY_OPEN names
# the stand-in internet of the tests and the demo, which lives on this
# machine's loopback: the names (or, for the agent's own tests, addresses)
# let through, space-separated.
# With RELAY_RECORD set too, the tests' forwarder (tests/support/forwarder.py)
# stands on ADDRESS:PORT in front of stunnel and appends what travels
# between the agent and the relay to that file; `silence`, `reset` and `cut`
# then do to every connection it carries what a change of network (or an
# onlooker who ends them) does.
#   relay.sh start STATE_DIR ADDRESS PORT USER TOKEN [squid [HOSTS]]
#                                                   (waits until it answers)
#   relay.sh tls STATE_DIR ADDRESS PORT BACK CERT KEY
#   relay.sh client STATE_DIR PORT RELAY_ADDRESS RELAY_PORT CA
#                        (stunnel's client mode on 127.0.0.1:PORT: clear
#                        text in, TLS to the relay, verified against CA)
#   relay.sh silence|reset|cut STATE_DIR   (then writes STATE_DIR/done, for a
#                        caller under Wine, which cannot wait for a host process)
#   relay.sh stop STATE_DIR...
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
Filter "$state/open"
FilterDefaultDeny Yes
FilterType ere
CONF
  # Only the stand-in internet's names: tinyproxy cannot see where a name
  # resolves, so on a real relay a firewall rule keeps it off the relay's
  # own network (docs/AGENT.md).
  : >"$state/open"
  for name in ${RELAY_OPEN:-}; do
    printf '^\\[?%s\\]?$\n' "$(printf %s "$name" | sed 's/[.]/\\./g')" >>"$state/open"
  done
  setsid tinyproxy -d -c "$state/tinyproxy.conf" </dev/null >/dev/null 2>&1 &
  echo $! >>"$state/pid"
}

# The stand-in internet's names and addresses let through, as Squid rules.
standin_rules() {
  local name i=0
  for name in ${RELAY_OPEN:-}; do
    i=$((i + 1))
    if [[ $name =~ ^[0-9.]+$ || $name == *:* ]]; then
      echo "acl standin$i dst $name"
    else
      echo "acl standin$i dstdomain -n $name"
    fi
    echo "http_access allow standin$i"
  done
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
# The relay's own network: loopback, link-local and private ranges and its
# own address, checked on the address a name resolves to.
acl inside dst 0.0.0.0/8 10.0.0.0/8 100.64.0.0/10 127.0.0.0/8 169.254.0.0/16 172.16.0.0/12
acl inside dst 192.168.0.0/16 ::1 fc00::/7 fe80::/10 $relay_address
# The credentials first (407 without them), then the destination (403).
http_access deny !credentials
$(standin_rules)
http_access deny inside
# CONNECT to every port of every other destination, for the holder of the token.
http_access allow credentials
http_access deny all
CONF
  setsid squid -N -f "$state/squid.conf" </dev/null >/dev/null 2>&1 &
  echo $! >>"$state/pid"
}

# stunnel on $address:$port, for the server on 127.0.0.1:$1.
tls_start() {
  cat >"$state/stunnel.conf" <<CONF
foreground = yes
pid =
output = /dev/null
[relay]
accept = $address:$port
connect = 127.0.0.1:$1
cert = $2
key = $3
sslVersionMin = TLSv1.2
CONF
  setsid stunnel "$state/stunnel.conf" </dev/null >/dev/null 2>&1 &
  echo $! >>"$state/pid"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_for() {
  for _ in $(seq 1 150); do
    if (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  echo "the relay did not start" >&2
  return 1
}

case "$cmd" in
  start)
    address=${3:?address} port=${4:?port} user=${5:?user} token=${6:?token}
    kind=${7:-tinyproxy}
    relay_address=$address
    rm -f "$state/pid"
    front=$address:$port
    if [ -n "${RELAY_CERT:-}" ]; then
      front_port=$port
      address=127.0.0.1 port=$(free_port)
    fi
    case "$kind" in
      tinyproxy) tinyproxy_start ;;
      squid) squid_start "${8:-}" ;;
      *) echo "unknown relay $kind" >&2; exit 2 ;;
    esac
    wait_for "$address" "$port"
    if [ -n "${RELAY_CERT:-}" ]; then
      back=$port
      address=${front%:*} port=$front_port
      if [ -n "${RELAY_RECORD:-}" ]; then
        address=127.0.0.1 port=$(free_port)
      fi
      tls_start "$back" "$RELAY_CERT" "${RELAY_KEY:?RELAY_KEY}"
      wait_for "$address" "$port"
      if [ -n "${RELAY_RECORD:-}" ]; then
        setsid python3 "$(dirname "$0")/../../tests/support/forwarder.py" "${front%:*}" \
          "$front_port" "$port" --record "$RELAY_RECORD" </dev/null >/dev/null \
          2>"$state/forwarder.log" &
        echo $! >>"$state/pid"
        echo $! >"$state/forwarder.pid"
        address=${front%:*} port=$front_port
        wait_for "$address" "$port"
        : >"$RELAY_RECORD"  # not the bytes of that knock on the door
      fi
    fi
    echo "relay ($kind${RELAY_CERT:+ behind TLS}) on $front"
    ;;
  client)
    address=127.0.0.1 port=${3:?port}
    rm -f "$state/pid"
    cat >"$state/stunnel.conf" <<CONF
foreground = yes
pid =
output = /dev/null
[relay]
client = yes
accept = $address:$port
connect = ${4:?relay address}:${5:?relay port}
CAfile = ${6:?authority}
verifyChain = yes
checkIP = $4
sslVersionMin = TLSv1.2
CONF
    setsid stunnel "$state/stunnel.conf" </dev/null >/dev/null 2>&1 &
    echo $! >>"$state/pid"
    wait_for "$address" "$port"
    ;;
  tls)
    address=${3:?address} port=${4:?port}
    rm -f "$state/pid"
    tls_start "${5:?back port}" "${6:?certificate}" "${7:?key}"
    wait_for "$address" "$port"
    ;;
  silence | reset | cut)
    rm -f "$state/done"
    declare -A signals=([silence]=USR1 [reset]=USR2 [cut]=HUP)
    kill "-${signals[$cmd]}" "$(cat "$state/forwarder.pid")"
    sleep 0.2  # the forwarder acts on it between two reads
    : >"$state/done"
    ;;
  stop)
    for state in "${@:2}"; do
      state=$(realpath -m "$state")
      [ -f "$state/pid" ] || continue
      # The relay, its TLS front and their helpers (each its own process
      # group, from setsid) at once: a relay keeps nothing worth a clean
      # shutdown, and the port must be free for the next start when this
      # returns.
      while read -r pid; do
        kill -9 -- "-$pid" 2>/dev/null || kill -9 "$pid" 2>/dev/null || true
        for _ in $(seq 1 50); do
          # Ended, or a zombie that only waits for its parent to collect it.
          grep -qs '^State:[[:space:]]*[RSDT]' "/proc/$pid/status" || break
          sleep 0.1
        done
      done <"$state/pid"
      rm -f "$state/pid"
    done
    ;;
  *)
    echo "usage: $0 start STATE ADDRESS PORT USER TOKEN [squid [HOSTS]] |" \
      "tls STATE ADDRESS PORT BACK CERT KEY | stop STATE..." >&2
    exit 2
    ;;
esac
