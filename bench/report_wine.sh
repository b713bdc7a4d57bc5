#!/usr/bin/env bash
# Prints the cost of one activity-log entry under Wine, with the log held
# open and with the earlier open-per-entry way, in one run. Builds the
# windows preset first.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target umbrane_bench_report >/dev/null
root=$PWD/build/windows/bench-wine
trap 'tools/wine/wine-session.sh stop "$root" >/dev/null' EXIT
tools/wine/wine-session.sh start "$root" >/dev/null
tools/wine/wine-run.sh "$root" build/windows/bench/umbrane_bench_report.exe
