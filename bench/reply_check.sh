#!/usr/bin/env bash
# Prints what the check of a signed update reply costs, per check: natively
# (OpenSSL, bench preset) and under Wine (BCrypt, windows preset), each
# against the old way (an unsigned reply, no check). Builds what is missing.
#   bash bench/reply_check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in bench windows; do
  cmake --preset $preset >/dev/null
  cmake --build build/$preset --target umbrane_bench_reply -j2 >/dev/null
done
reply() {  # a reply signed with the build tree's test key
  python3 tools/update-service/sign_reply.py --private-key "build/$1/test-pki/update.key" \
    --id -5 --sn bench --version 4.01 --serial 7 --key 'ALT@DEQ,RWHD' >"build/$1/bench-reply.ini"
}
reply bench
echo "== native (OpenSSL)"
build/bench/bench/umbrane_bench_reply build/bench/bench-reply.ini -5 bench 4.01
reply windows
root=build/windows/bench-wine
trap 'tools/wine/wine-session.sh stop "$root" >/dev/null' EXIT
tools/wine/wine-session.sh start "$root" >/dev/null
echo "== Wine (BCrypt)"
tools/wine/wine-run.sh "$root" build/windows/bench/umbrane_bench_reply.exe \
  build/windows/bench-reply.ini -5 bench 4.01 2>/dev/null
