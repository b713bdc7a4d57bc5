#!/usr/bin/env bash
# A throwaway test authority and the certificates the tests' relays and
# update service present, made fresh in OUT (kept when already there):
#   ca.pem            the test authority (trusted only by the tests: a trust
#                     file for the native agent, the root store of the
#                     tests' own Wine prefix)
#   relay.pem/.key    from the authority, for 127.0.0.1, 127.0.0.2, localhost
#   other.pem/.key    the same names from the same authority, another key
#   self.pem/.key     the same names, signed by itself
#   elsewhere.pem/.key from the authority, for another address (192.0.2.1)
#   pins.txt          the test build's pinned agent's pins, each the base64
#                     SHA-256 of a public key: self.key's (the key in use),
#                     then relay.key's (the backup)
#   update.key, update-backup.key, update-other.key
#                     keys that sign update replies: the test builds trust
#                     the first two (update-keys.txt: each public key as the
#                     base64 of its X and Y), never the third
#   update-pins.txt   the test builds' pins of the update service's TLS key:
#                     relay.key's (the service shows relay.pem), then a
#                     backup's that no certificate carries
#   make-pki.sh OUT
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out"
cd "$out"
names="subjectAltName=IP:127.0.0.1,IP:127.0.0.2,DNS:localhost"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }
pin() { openssl pkey -in "$1" -pubout -outform DER | openssl dgst -sha256 -binary | base64; }
point() { openssl pkey -in "$1" -pubout -outform DER | tail -c 64 | base64 -w0; }

# The update service's keys, added to a build tree whose authority exists.
update_keys() {
  [ -s update-pins.txt ] && return 0
  for signer in update update-backup update-other update-tls-backup; do key $signer.key; done
  echo "$(point update.key),$(point update-backup.key)" >update-keys.txt
  echo "$(pin relay.key),$(pin update-tls-backup.key)" >update-pins.txt
}
if [ -s pins.txt ]; then
  update_keys
  exit 0
fi

# The authority's key is RSA: Wine's chain engine (8.0) misreads an ECDSA
# signature whose r or s is shorter than the curve (one in about 64), and
# would then refuse a certificate the authority signed.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca.key 2>/dev/null
openssl req -x509 -new -key ca.key -days 3650 -subj "/CN=Umbrane Test Authority" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
  -out ca.pem 2>/dev/null
for leaf in relay other; do
  key $leaf.key
  openssl req -new -key $leaf.key -subj "/CN=umbrane test relay" -out $leaf.csr 2>/dev/null
  openssl x509 -req -in $leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
    -extfile <(printf '%s\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' "$names") \
    -out $leaf.pem 2>/dev/null
  rm -f $leaf.csr
done
key elsewhere.key
openssl req -new -key elsewhere.key -subj "/CN=another relay" -out elsewhere.csr 2>/dev/null
openssl x509 -req -in elsewhere.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 \
  -extfile <(printf 'subjectAltName=IP:192.0.2.1\nextendedKeyUsage=serverAuth\n') \
  -out elsewhere.pem 2>/dev/null
rm -f elsewhere.csr
key self.key
openssl req -x509 -new -key self.key -days 3650 -subj "/CN=umbrane test relay" \
  -addext "$names" -addext "extendedKeyUsage=serverAuth" -out self.pem 2>/dev/null
echo "$(pin self.key),$(pin relay.key)" >pins.txt
update_keys
