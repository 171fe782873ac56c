#!/usr/bin/env bash
# Installs what the builds, tests and the demo need on Debian 12. As root it
# installs missing packages with apt-get; otherwise it prints the line to run.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ clang lld llvm libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libinih-dev libiniparser-dev libcli11-dev nlohmann-json3-dev
  qemu-system-x86 ovmf python3
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages. Run as root:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${missing[@]}"
