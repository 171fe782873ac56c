#!/usr/bin/env bash
# Signs a UEFI image for Secure Boot and checks the signature:
#   scripts/sign-image.sh KEY CERT INPUT OUTPUT
# KEY is a PEM private key (unencrypted), CERT its PEM certificate, the one
# the platform's db (or a certificate above it) holds. Needs sbsigntool.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 KEY CERT INPUT OUTPUT" >&2
  exit 64
fi
key=$1 cert=$2 input=$3 output=$4
for tool in sbsign sbverify; do
  command -v "$tool" >/dev/null || { echo "$0: $tool not found (apt install sbsigntool)" >&2; exit 1; }
done
if ! messages=$(sbsign --key "$key" --cert "$cert" --output "$output.tmp" "$input" 2>&1); then
  echo "$messages" >&2
  rm -f "$output.tmp"
  exit 1
fi
sbverify --cert "$cert" "$output.tmp" >/dev/null 2>&1 || { rm -f "$output.tmp"; echo "$0: $output does not verify against $cert" >&2; exit 1; }
mv "$output.tmp" "$output"
