#!/usr/bin/env bash
# Starts or stops the local update service for a test run or the demo:
# HTTPS on PORT with PKI/relay.pem (the tests' authority's certificate for
# 127.0.0.1; PKI/self.pem in "untrusted" mode, PKI/other.pem in "impostor"
# mode), plain HTTP on PORT+1; replies signed with PKI/update.key.
#   service.sh start STATE_DIR PORT PKI   (waits until it answers)
#   service.sh stop STATE_DIR
set -euo pipefail
cmd=${1:?command}
state=$(realpath -m "${2:?state folder}")
port=${3:-8808}
pki=${4:-}
mkdir -p "$state"
case "$cmd" in
  start)
    echo down >"$state/mode"
    : >"$state/requests"
    : >"$state/signing"
    : >"$state/tunnels"
    rm -f "$state/ready"
    tls=()
    if [ -n "$pki" ]; then
      tls=(--cert "$pki/relay.pem" --key "$pki/relay.key"
           --untrusted-cert "$pki/self.pem" --untrusted-key "$pki/self.key"
           --impostor-cert "$pki/other.pem" --impostor-key "$pki/other.key"
           --signing-keys "$pki")
    fi
    setsid python3 "$(dirname "$0")/update_service.py" --port "$port" --state "$state" \
      "${tls[@]}" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/pid"
    for _ in $(seq 1 100); do
      if [ -f "$state/ready" ]; then
        echo "update service for 127.0.0.1:$port${pki:+ (HTTPS)} (mode in $state/mode)"
        exit 0
      fi
      sleep 0.1
    done
    echo "the update service did not start" >&2
    exit 1
    ;;
  stop)
    if [ -f "$state/pid" ]; then
      kill "$(cat "$state/pid")" 2>/dev/null || true
      rm -f "$state/pid"
    fi
    ;;
  *)
    echo "usage: $0 start STATE_DIR [PORT [PKI]] | stop STATE_DIR" >&2
    exit 2
    ;;
esac
