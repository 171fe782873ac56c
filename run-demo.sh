#!/usr/bin/env bash
# The main job: builds the firmware image and boots TolvaneService in OVMF
# under QEMU against a TFTP server over Examples/ (or --tftp-dir DIR), then
# prints what the driver delivers for the machine (--machine ID). The server is
# QEMU's own by default; --server tftpd-hpa or --server dnsmasq runs that one
# on a private tap network instead (root only).
# Exits non-zero when the driver does not deliver.
set -euo pipefail
cd "$(dirname "$0")"
scripts/prerequisites.sh
PYTHONPATH=Test exec python3 -m testbed.demo "$@"
