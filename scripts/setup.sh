#!/usr/bin/env bash
# Installs what the build, the tests and the demo need, from Debian's
# packages only, and only what is missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  cmake make g++ googletest             # native build and unit tests
  g++-mingw-w64-x86-64-posix            # umbrane.exe, 64-bit (posix threads)
  g++-mingw-w64-i686-posix              # umbrane.exe, 32-bit (build only)
  binutils-mingw-w64-x86-64 binutils-mingw-w64-i686  # windres
  wine wine64                           # runs the Windows build here
  xvfb                                  # an X display for windows under Wine
  fp-utils-3.2.2                        # chmcmd, which compiles help.chm
  util-linux coreutils                  # flock, realpath, timeout
  python3                               # the local update service
  openssl                               # a throwaway certificate for a test's HTTPS site
  libasio-dev                           # standalone Asio, for the tunnel agent
  tinyproxy                             # a relay for the agent's tests and the demo
  stunnel4                              # TLS in front of the test and demo relays
  libssl-dev                            # OpenSSL, the native agent's TLS
  squid                                 # a relay that keeps connections alive, for the tests
  chromium                              # a real browser engine, headless, for the tests
  clang libclang-rt-14-dev              # libFuzzer and sanitizers for the agent's fuzz targets
  microsocks                            # a peer SOCKS server for the agent benchmark
  v2ray                                 # a peer doing the agent's job, for its benchmark
  nsis                                  # makensis, which builds the installer
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: everything is installed"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
