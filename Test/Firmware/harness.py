#!/usr/bin/env python3
"""Entry point of the firmware stage: runs testbed.harness (Test/testbed/harness.py) with this command line."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))
from testbed import harness  # noqa: E402

if __name__ == "__main__":
    sys.exit(harness.main())
