#!/usr/bin/env bash
# Builds every preset and runs every test tier: the native unit tests, the
# fuzz targets (the agent's, the update reply's) for a bounded time, then
# the adapter and end-to-end tests of the Windows build under Wine; the
# 32-bit Windows build is compiled as well. Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

jobs=$(nproc)
failed=0
passed_total=0
failed_total=0
logs=$(mktemp -d)

# Adds the counts of ctest's closing line to the totals.
count() {
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then
    failed=1
    return
  fi
  local bad all
  bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  all=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed_total=$((passed_total + all - bad))
  failed_total=$((failed_total + bad))
}

step() {
  echo "== $*"
  "$@" || failed=1
}

for preset in native fuzz windows; do
  step cmake --preset "$preset" >/dev/null
  step cmake --build --preset "$preset" -j "$jobs"
  echo "== ctest --preset $preset"
  ctest --preset "$preset" 2>&1 | tee "$logs/$preset.txt"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed=1
  count "$logs/$preset.txt"
done
step cmake --preset windows-i686 >/dev/null
step cmake --build --preset windows-i686 -j "$jobs"

rm -rf "$logs"
echo
echo "$passed_total passed, $failed_total failed"
if [ $failed -ne 0 ]; then
  echo "FAILED" >&2
  exit 1
fi
