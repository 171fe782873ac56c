#!/usr/bin/env bash
# Installs what the builds, tests and the demo need on Debian 12. As root it
# installs missing packages with apt-get; otherwise it prints the line to run.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang lld llvm libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libinih-dev libiniparser-dev libcli11-dev nlohmann-json3-dev time
  qemu-system-x86 ovmf python3
  sbsigntool openssl dpkg-dev lintian
  tftpd-hpa dnsmasq-base iproute2 nftables ipxe-qemu
  gnu-efi
  fdisk dosfstools mtools
)

# atftpd, a server the tests run beside tftpd-hpa and dnsmasq, is unpacked from its Debian package into the
# build tree and never installed: its package would replace tftpd-hpa's. Without it those tests say they were
# skipped and why. Run after the installs, so that a fresh machine's package lists are there.
ATFTPD_CACHE="$(cd "$(dirname "$0")/.." && pwd)/build/atftpd"
unpack_atftpd() {
  if [ -x "$ATFTPD_CACHE/usr/sbin/atftpd" ] || command -v atftpd >/dev/null; then
    return 0
  fi
  local download
  download=$(mktemp -d)
  mkdir -p "$ATFTPD_CACHE"
  if (cd "$download" && { apt-get download atftpd >/dev/null 2>&1 ||
        { [ "$(id -u)" -eq 0 ] && apt-get update >/dev/null 2>&1 && apt-get download atftpd >/dev/null 2>&1; }; }) &&
     dpkg -x "$download"/atftpd_*.deb "$ATFTPD_CACHE"; then
    echo "atftpd unpacked into $ATFTPD_CACHE"
  else
    echo "note: atftpd could not be fetched (apt-get download atftpd); its server tests will be skipped" >&2
  fi
  rm -rf "$download"
}

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  unpack_atftpd
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive

# The tests start their own TFTP servers; tftpd-hpa's package would start a
# daemon of its own on port 69 and at every boot. A policy that refuses every
# service start keeps it from starting during the install (an existing policy
# file is put back afterwards).
POLICY=/usr/sbin/policy-rc.d
saved_policy=""
if [ -e "$POLICY" ]; then
  saved_policy=$(mktemp)
  cp -p "$POLICY" "$saved_policy"
fi
restore_policy() {
  if [ -n "$saved_policy" ]; then
    mv "$saved_policy" "$POLICY"
  else
    rm -f "$POLICY"
  fi
}
trap restore_policy EXIT
printf '#!/bin/sh\nexit 101\n' >"$POLICY"
chmod 755 "$POLICY"

apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"

# The daemon just installed: never at boot, and not now should anything have started it anyway.
if [[ " ${missing[*]} " == *" tftpd-hpa "* ]]; then
  if command -v systemctl >/dev/null && [ -d /run/systemd/system ]; then
    systemctl disable --now tftpd-hpa.service >/dev/null 2>&1 || true
  fi
  update-rc.d tftpd-hpa disable >/dev/null 2>&1 || true
  if [ -f /run/tftpd-hpa.pid ] && kill -0 "$(cat /run/tftpd-hpa.pid)" 2>/dev/null; then
    kill "$(cat /run/tftpd-hpa.pid)"
  fi
fi

unpack_atftpd
