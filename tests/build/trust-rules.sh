#!/usr/bin/env bash
# The configure step's rules for what the program trusts: the relay's pins,
# the keys that sign the update service's replies and the pins of its TLS
# key. A release names them (comma-separated lists: the current one, then
# backups), or says explicitly that it is a test build (system roots,
# unsigned replies); anything else is refused with a message that says how
# to make what is missing.
#   trust-rules.sh CMAKE SOURCE_DIR
set -uo pipefail
cmake=${1:?cmake} source=${2:?source folder}
scratch=$(mktemp -d) release=$(mktemp -d)
build=$scratch
trap 'rm -rf "$scratch" "$release"' EXIT
current=nbNVXB4Uv65+N+cqFRCw9fXhqKYJFcUlFbedvh3a5Vk=
backup=6Sj5y2wbUzh7Q99Si2Ig1ZpUEVJ9y4WKVj1d0Cse6Gw=
key=qVBn6hzYpbxWiEzZL0tQRQR6bcu3Gh+kIBPJoStt79o0D4pG4cm3FpG61pRXKV+qLOAwV29V8jel3WS9tDNSwg==
key2=LTd83ZIElalcZkNJypFx8bYLvzfoQAHsAT8mNQ9P46uw0Vyv8FJhnGbPhJZdR6fhMk0R+mRRwsId2IBSTsNfWw==
failed=0
# Configures with the cache settings after ACCEPTED and SAYS: whether it
# configures must be ACCEPTED (yes or no), and the output must contain SAYS.
check() {
  local accepted=$1 says=$2 out result
  shift 2
  out=$("$cmake" -S "$source" -B "$build" -DUMBRANE_BUILD_TESTS=OFF \
    -DUMBRANE_RELAY_ADDRESS=203.0.113.10 "$@" 2>&1)
  result=$([ $? -eq 0 ] && echo yes || echo no)
  # CMake folds its messages: compared with the folds undone.
  if [ "$result" != "$accepted" ] || ! tr -s ' \n' ' ' <<<"$out" | grep -qF -- "$says"; then
    echo "FAIL: $*: configured $result, wanted $accepted and \"$says\""
    grep -A4 "CMake Error" <<<"$out"
    failed=1
  fi
}
# relay pins | update keys | update pins | trust the system's roots | unsigned replies |
# configures? | the message must contain
while IFS='|' read -r pins keys updatePins roots unsigned accepted says; do
  check "$accepted" "$says" "-DUMBRANE_RELAY_PIN=$pins" "-DUMBRANE_UPDATE_KEY=$keys" \
    "-DUMBRANE_UPDATE_PIN=$updatePins" "-DUMBRANE_TRUST_SYSTEM_ROOTS=$roots" \
    "-DUMBRANE_UNSIGNED_UPDATES=$unsigned"
done <<TABLE
|$key|$current|OFF|OFF|no|openssl dgst -sha256 -binary | base64
|$key||ON|OFF|yes|
$current|$key|$current|OFF|OFF|yes|
$current,$backup|$key,$key2|$current,$backup|OFF|OFF|yes|
$current, $backup|$key|$current|OFF|OFF|no| $backup" is not a pin
$current,|$key|$current|OFF|OFF|no|"" is not a pin
${current%=}|$key|$current|OFF|OFF|no|is not a pin
${current:1}x|$key|$current|OFF|OFF|no|is not a pin
${current%?=}B=|$key|$current|OFF|OFF|no|is not a pin
$current;$backup|$key|$current|OFF|OFF|no|is not a pin
$current||$current|OFF|OFF|no|tail -c 64 | base64
$current||$current|OFF|ON|yes|
$current|${key%?==}B==|$current|OFF|OFF|no|is not a key
$current|$key,|$current|OFF|OFF|no|"" is not a key
$current|${key:4}|$current|OFF|OFF|no|is not a key
$current|$key||OFF|OFF|no|No update service pin
$current|$key|$backup,${current:2}|OFF|OFF|no|is not a pin
TABLE

# The build's list of more relays: relay pin | list | trust the system's
# roots | configures? | the message must contain
# (CURRENT, BACKUP: the pins above; SHORT: one cut short; ^ stands for |)
while IFS='|' read -r pins relays roots accepted says; do
  pins=${pins//CURRENT/$current}
  relays=${relays//CURRENT/$current} relays=${relays//BACKUP/$backup}
  relays=${relays//SHORT/${current%=}} relays=${relays//^/|}
  check "$accepted" "$says" "-DUMBRANE_RELAY_PIN=$pins" "-DUMBRANE_RELAYS=$relays" \
    "-DUMBRANE_UPDATE_KEY=$key" "-DUMBRANE_UPDATE_PIN=$current" "-DUMBRANE_TRUST_SYSTEM_ROOTS=$roots"
done <<'TABLE'
|203.0.113.10:80=CURRENT^BACKUP,198.51.100.9:443=BACKUP|OFF|yes|
|198.51.100.9:443=CURRENT|OFF|no|No relay pin
CURRENT|198.51.100.9:443|OFF|no|198.51.100.9:443 has no pin
CURRENT|198.51.100.9:443|ON|yes|
CURRENT|relay.example:443=CURRENT|OFF|no|is not ADDRESS:PORT
CURRENT|198.51.100.9=CURRENT|OFF|no|is not ADDRESS:PORT
CURRENT|198.51.100.9:443=SHORT|OFF|no|is not a pin
TABLE

# The release preset, as shipped: it trusts no root of the user's machine
# and acts on no unsigned reply, so it configures only with pins and keys.
build=$release
while IFS='|' read -r pins accepted says; do
  check "$accepted" "$says" --preset release "-DUMBRANE_RELAY_PIN=$pins" \
    "-DUMBRANE_UPDATE_KEY=$key" "-DUMBRANE_UPDATE_PIN=$current"
done <<TABLE
|no|openssl dgst -sha256 -binary | base64
$current,$backup|yes|
$current,${current%?=}B=|no|is not a pin
TABLE
exit $failed
