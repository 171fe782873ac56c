#!/usr/bin/env bash
# Builds the benchmark programs with the host preset (g++, Release) and runs them:
# the configuration lookup beside inih and iniparser, the entry operations, the
# reader and tokenizer alone, and the formatted output beside the C library.
# Then the driver's transfer speed in OVMF with QEMU's TFTP server, tftpd-hpa
# and dnsmasq (Benchmarks/TftpServers; about four minutes, the real servers as root only),
# and the boot storm against both servers, fleet file against split (Benchmarks/Fleet, root only).
#   scripts/run-benchmarks.sh                      # everything (iniparser on 8 MiB takes about a minute)
#   scripts/run-benchmarks.sh --benchmark_filter=FindMachine   # host programs only
# BENCHMARK_BUILD_DIR=<dir> runs the programs of an already configured build directory instead.
# Opt-in, not run here (root; they boot firmware for many minutes, see BENCHMARKS.md):
#   python3 Test/Firmware/harness.py --nic-matrix                                   # every network card model
#   PYTHONPATH=Test python3 Benchmarks/TftpServers/loss_benchmark.py [--only RUN]   # a 4 MiB fetch on lossy links
#   PYTHONPATH=Test python3 Benchmarks/Soak/soak_benchmark.py [--cycles N]         # firmware memory a fetch costs
#     (after cmake --build --preset efi --target SoakCaller)
set -euo pipefail
cd "$(dirname "$0")/.."

PROGRAMS=(ConfigurationBenchmarks SectionBenchmarks FormatBenchmarks FleetBenchmarks)

if [ -n "${BENCHMARK_BUILD_DIR:-}" ]; then
  BUILD_DIR=$BENCHMARK_BUILD_DIR
  cmake --build "$BUILD_DIR" --target "${PROGRAMS[@]}"
else
  scripts/prerequisites.sh
  BUILD_DIR=build/host
  cmake --preset host
  cmake --build --preset host --target "${PROGRAMS[@]}"
fi

for program in "${PROGRAMS[@]}"; do
  echo "== $program"
  "$BUILD_DIR/Benchmarks/$program" "$@"
done

# The server comparison boots firmware for minutes: skipped when only some host benchmarks are asked for.
if [ $# -eq 0 ]; then
  echo "== TftpServers"
  cmake --preset efi
  cmake --build --preset efi
  PYTHONPATH=Test python3 Benchmarks/TftpServers/server_benchmark.py --build-dir build/efi
  echo "== Boot storm"
  cmake --build "$BUILD_DIR" --target rivari-check
  PYTHONPATH=Test python3 Benchmarks/Fleet/storm_benchmark.py --rivari-check "$BUILD_DIR/Tools/RivariCheck/rivari-check"
fi
