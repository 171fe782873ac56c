#!/usr/bin/env bash
# Runs every fuzzer in DIR for SECONDS over a scratch copy of its seed corpus, as many at once as there are cores
# (each fuzzer runs on one core), and reports them in name order.
set -euo pipefail
dir=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
parallel=$(nproc 2>/dev/null || echo 2)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
names=()
for fuzzer in "$dir"/*Fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  names+=("$name")
  mkdir "$scratch/$name"
  if [ -d "$root/Test/Fuzz/Corpus/$name" ]; then
    cp -r "$root/Test/Fuzz/Corpus/$name/." "$scratch/$name/"
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
    wait -n || true
  done
  (
    if "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$scratch/$name" >"$scratch/$name.log" 2>&1; then
      echo ok >"$scratch/$name.status"
    else
      echo failed >"$scratch/$name.status"
    fi
  ) &
done
wait
status=0
for name in "${names[@]}"; do
  echo "-- $name for ${seconds}s"
  if [ "$(cat "$scratch/$name.status")" != ok ]; then
    tail -n 60 "$scratch/$name.log"
    echo "$name FAILED" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$scratch/$name.log" | tail -n 2 || true
  fi
done
exit $status
