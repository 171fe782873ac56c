#!/usr/bin/env bash
# Runs every fuzzer in DIR for SECONDS over a scratch copy of its seed corpus.
set -euo pipefail
dir=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
for fuzzer in "$dir"/*Fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  work=$(mktemp -d)
  if [ -d "$root/Test/Fuzz/Corpus/$name" ]; then
    cp -r "$root/Test/Fuzz/Corpus/$name/." "$work/"
  fi
  echo "-- $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 "$work" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "$name FAILED" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "$work.log" | tail -n 2 || true
  fi
  rm -rf "$work" "$work.log"
done
exit $status
