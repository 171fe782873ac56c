"""The Linux installation scenario on its own (linux.py): both boots, in the guard's namespaces, with their times.

Exit status 0 when it passed, 1 when it failed, 77 when it was skipped (the reason is printed).

    PYTHONPATH=Test python3 -m testbed.linux_scenario [--build-dir DIR] [--work-dir DIR]
"""

import argparse
import sys
from pathlib import Path

from . import facts, guard, linux

SKIPPED = 77


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", type=Path, default=facts.DEFAULT_BUILD,
                        help="firmware build directory holding the package's images")
    parser.add_argument("--work-dir", type=Path, help="where the disk and consoles go (default: BUILD_DIR/linux)")
    args = parser.parse_args()
    build_dir = args.build_dir.resolve()
    work = (args.work_dir or build_dir / "linux").resolve()
    skipped_file = work / "skipped.txt"  # run-tests.sh repeats the reason at the end of the run
    skipped_file.unlink(missing_ok=True)
    try:
        linux.prepare()  # outside the namespaces: they have no route to the package source
        guard.enter()
        problems, seconds = linux.run(build_dir, work)
    except linux.Skipped as reason:
        line = "SKIPPED linux: %s (%s)" % (linux.NAME, reason)
        print(line)
        work.mkdir(parents=True, exist_ok=True)
        skipped_file.write_text(line + "\n")
        return SKIPPED
    except (RuntimeError, OSError, ValueError) as error:
        problems, seconds = [str(error)], []
    print("%s linux: %s (%s)" % ("FAIL" if problems else "PASS", linux.NAME,
                                  ", ".join("boot %d %.0f s" % (number, value)
                                            for number, value in enumerate(seconds, 1))))
    for line in problems:
        print("  " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
