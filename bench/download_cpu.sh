#!/usr/bin/env bash
# Prints the CPU the waiting thread uses during a slow download, before and
# after the wait stopped spinning. Builds the windows preset first.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target umbrane_bench_download >/dev/null
root=$PWD/build/windows/bench-wine
state=$PWD/build/windows/bench-update-service
trap 'tools/update-service/service.sh stop "$state"; tools/wine/wine-session.sh stop "$root" >/dev/null' EXIT
tools/wine/wine-session.sh start "$root" >/dev/null
tools/update-service/service.sh start "$state" 8808 >/dev/null
echo "slow ${1:-3}" >"$state/mode"
sleep 0.5  # the service opens its port within 50 ms of the mode change
tools/wine/wine-run.sh "$root" build/windows/bench/umbrane_bench_download.exe
