#!/usr/bin/env python3
"""Signs an update reply: the operator's tool, and the one the tests' update
service signs with.

A reply is the INI section "Update" with the values that have an effect
(NewVersion, Key: the enciphered access token, Relays), the request's
identifiers it answers (Id, Sn, Version, exactly as they stood in the
request), when it was issued and until when it holds (Issued, Expires:
seconds since 1970 UTC), a number above every earlier reply's (Serial), and
Signature: ECDSA P-256 with SHA-256 over the text below, as the base64 of r
and s (32 bytes each). The program rebuilds the text from the values it
reads, so a value must not begin or end with a space or a quote.

    Umbrane update reply 1
    Id=...
    Sn=...
    Version=...
    Issued=...
    Expires=...
    Serial=...
    NewVersion=...
    Key=...
    Relays=...

(one "\\n" after each line). The private key is a PEM file (openssl genpkey
-algorithm EC -pkeyopt ec_paramgen_curve:P-256); the openssl command signs.

  sign_reply.py --private-key update.key --id -5 --sn ACME --version 4.01 \\
                --serial 42 [--lifetime 3600] [--new-version 1] [--key ...]
"""
import argparse
import base64
import subprocess
import sys
import time

FIELDS = ["Id", "Sn", "Version", "Issued", "Expires", "Serial", "NewVersion", "Key", "Relays"]


def signed_text(values):
    return "Umbrane update reply 1\n" + "".join(
        "%s=%s\n" % (name, values.get(name, "")) for name in FIELDS)


def raw_signature(der):
    """r || s, 32 bytes each, from openssl's DER (SEQUENCE of two INTEGERs)."""
    def integer(at):
        if der[at] != 0x02:
            raise ValueError("not an ECDSA signature")
        length = der[at + 1]
        value = der[at + 2:at + 2 + length].lstrip(b"\0")
        if len(value) > 32:
            raise ValueError("not a P-256 signature")
        return value.rjust(32, b"\0"), at + 2 + length
    if der[0] != 0x30 or der[1] & 0x80:
        raise ValueError("not an ECDSA signature")
    r, at = integer(2)
    s, _ = integer(at)
    return r + s


def sign(values, private_key):
    """The reply's INI text, values (a dict by field name) signed."""
    for name, value in values.items():
        text = str(value)
        if "\n" in text or "\r" in text or text != text.strip(" \t\"'"):
            raise ValueError("%s: a value the INI reader would change" % name)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", private_key],
                         input=signed_text(values).encode("latin-1"),
                         capture_output=True, check=True).stdout
    signature = base64.b64encode(raw_signature(der)).decode()
    lines = ["[Update]"] + ["%s=%s" % (name, values.get(name, "")) for name in FIELDS]
    return "\r\n".join(lines + ["Signature=" + signature, ""])


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--private-key", required=True)
    parser.add_argument("--id", required=True)
    parser.add_argument("--sn", default="")
    parser.add_argument("--version", required=True)
    parser.add_argument("--serial", type=int, required=True)
    parser.add_argument("--issued", type=int, default=None, help="default: now")
    parser.add_argument("--lifetime", type=int, default=3600, help="seconds it holds")
    parser.add_argument("--new-version", default="0")
    parser.add_argument("--key", default="", help="the enciphered access token")
    parser.add_argument("--relays", default="")
    args = parser.parse_args()
    issued = int(time.time()) if args.issued is None else args.issued
    values = {"Id": args.id, "Sn": args.sn, "Version": args.version, "Issued": issued,
              "Expires": issued + args.lifetime, "Serial": args.serial,
              "NewVersion": args.new_version, "Key": args.key, "Relays": args.relays}
    sys.stdout.write(sign(values, args.private_key))


if __name__ == "__main__":
    main()
