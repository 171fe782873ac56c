#!/usr/bin/env bash
# Builds everything and runs every test: the firmware image, the host tests
# (g++), the host tests under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang++), the end-to-end scenarios in OVMF, and a short run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")"

scripts/prerequisites.sh

JOBS=$(nproc 2>/dev/null || echo 2)

echo "== Firmware image, its checks and the scenarios in OVMF"
cmake --preset efi
cmake --build --preset efi -j "$JOBS"
# The split-tree scenario runs the host build's rivari-check split.
cmake --preset host
cmake --build --preset host -j "$JOBS" --target rivari-check
ctest --preset efi -j "$JOBS"

echo "== Host build (g++)"
cmake --preset host
cmake --build --preset host -j "$JOBS"
ctest --preset host -j "$JOBS"

echo "== Debian package, from the efi and host builds"
Test/Package/package-test.sh build/efi build/host

echo "== Host build under AddressSanitizer and UndefinedBehaviorSanitizer (clang++)"
cmake --preset host-asan
cmake --build --preset host-asan -j "$JOBS"
ctest --preset host-asan -j "$JOBS"

echo "== Fuzzers (short runs)"
cmake --preset fuzz
cmake --build --preset fuzz -j "$JOBS"
scripts/fuzz-smoke.sh build/fuzz/Test/Fuzz "${FUZZ_SECONDS:-60}"

# Firmware scenarios that could not run here (the tap network needs root, loader linux Debian's packages) say so last.
for skipped in build/*/firmware-scenarios/skipped*.txt; do
  if [ -f "$skipped" ]; then
    echo "== Skipped firmware scenarios"
    cat "$skipped"
  fi
done

echo "== All tests passed"
