#!/usr/bin/env python3
"""The firmware stage from anywhere: `python3 -m testbed.harness` with Test/ on PYTHONPATH and this command line."""

import os
import sys
from pathlib import Path

if __name__ == "__main__":
    test_folder = str(Path(__file__).resolve().parents[1])
    path = os.environ.get("PYTHONPATH")
    environment = dict(os.environ, PYTHONPATH=test_folder + (os.pathsep + path if path else ""))
    os.execve(sys.executable, [sys.executable, "-m", "testbed.harness"] + sys.argv[1:], environment)
