#!/usr/bin/env bash
# Builds the Debian package tolvane-service (CPack, project packaging/):
#   scripts/build-package.sh [--key KEY --cert CERT] [--output DIR]
#                            [--no-build] [--firmware-build DIR] [--host-build DIR]
# Builds the efi preset's images (the service, the network companion, the field
# tool) and rivari-check of the host preset, then packages them. With --key and
# --cert (PEM, key unencrypted) the package also holds a .signed.efi copy of
# each image. --no-build packages the builds as they are.
# Prints the path of the package. Needs cmake, cpack, dpkg-dev, sbsigntool
# (for --key), gzip.
set -euo pipefail
repository=$(cd "$(dirname "$0")/.." && pwd)
key="" cert="" output="$repository/build" build=1
firmware_build="$repository/build/efi" host_build="$repository/build/host"

usage() { sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 64; }
while [ $# -gt 0 ]; do
  case "$1" in
    --key) key=$(realpath "${2:?}"); shift 2 ;;
    --cert) cert=$(realpath "${2:?}"); shift 2 ;;
    --output) output=$(realpath -m "${2:?}"); shift 2 ;;
    --firmware-build) firmware_build=$(realpath -m "${2:?}"); shift 2 ;;
    --host-build) host_build=$(realpath -m "${2:?}"); shift 2 ;;
    --no-build) build=0; shift ;;
    *) usage ;;
  esac
done
if { [ -n "$key" ] && [ -z "$cert" ]; } || { [ -z "$key" ] && [ -n "$cert" ]; }; then
  echo "$0: --key and --cert go together" >&2
  exit 64
fi

cd "$repository"
if [ "$build" -eq 1 ]; then
  cmake --preset efi -B "$firmware_build" >/dev/null
  cmake --build "$firmware_build" --target TolvaneService TolvaneNetworkSetup TolvaneTool
  cmake --preset host -B "$host_build" >/dev/null
  cmake --build "$host_build" --target rivari-check
fi

staging=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-package.XXXXXX")
trap 'rm -rf "$staging"' EXIT
signed=""
if [ -n "$key" ]; then
  for image in TolvaneService TolvaneNetworkSetup tolvane; do
    scripts/sign-image.sh "$key" "$cert" "$firmware_build/$image.efi" "$staging/$image.signed.efi"
    signed="$signed${signed:+;}$staging/$image.signed.efi"
  done
fi
cmake -S packaging -B "$staging/build" -DTOLVANE_FIRMWARE_BUILD="$firmware_build" \
  -DTOLVANE_HOST_BUILD="$host_build" -DTOLVANE_SIGNED_IMAGES="$signed" >/dev/null
mkdir -p "$output"
(cd "$staging/build" && cpack -B "$output" >/dev/null)
rm -rf "$output/_CPack_Packages"
ls "$output"/tolvane-service_*.deb
