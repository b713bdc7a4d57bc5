#!/usr/bin/env bash
# The configure step's rule for the relay's pins: a release names one or
# more (comma-separated, each the base64 SHA-256 of a public key), or says
# explicitly that it trusts the system's roots; anything else is refused
# with a message that says how to compute a pin.
#   relay-pins.sh CMAKE SOURCE_DIR
set -uo pipefail
cmake=${1:?cmake} source=${2:?source folder}
build=$(mktemp -d)
trap 'rm -rf "$build"' EXIT
current=nbNVXB4Uv65+N+cqFRCw9fXhqKYJFcUlFbedvh3a5Vk=
backup=6Sj5y2wbUzh7Q99Si2Ig1ZpUEVJ9y4WKVj1d0Cse6Gw=
failed=0
# pins | trust the system's roots | configures? | the message must contain
while IFS='|' read -r pins roots accepted says; do
  out=$("$cmake" -S "$source" -B "$build" -DUMBRANE_BUILD_TESTS=OFF \
    -DUMBRANE_RELAY_ADDRESS=203.0.113.10 "-DUMBRANE_RELAY_PIN=$pins" \
    "-DUMBRANE_TRUST_SYSTEM_ROOTS=$roots" 2>&1)
  result=$([ $? -eq 0 ] && echo yes || echo no)
  # CMake folds its messages: compared with the folds undone.
  if [ "$result" != "$accepted" ] || ! tr -s ' \n' ' ' <<<"$out" | grep -qF -- "$says"; then
    echo "FAIL: pins [$pins] roots $roots: configured $result, wanted $accepted and \"$says\""
    grep -A4 "CMake Error" <<<"$out"
    failed=1
  fi
done <<TABLE
|OFF|no|openssl dgst -sha256 -binary | base64
|ON|yes|
$current|OFF|yes|
$current,$backup|OFF|yes|
$current, $backup|OFF|no| $backup" is not a pin
$current,|OFF|no|"" is not a pin
${current%=}|OFF|no|is not a pin
${current:1}x|OFF|no|is not a pin
$current;$backup|OFF|no|is not a pin
TABLE
exit $failed
