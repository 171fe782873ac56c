#!/usr/bin/env python3
"""The split of generated fleets: for 1,000, 10,000 and 100,000 machines (480 bytes a machine), the wall time,
CPU time and peak memory of `rivari-check split FILE --map MAP --out DIR` into a new folder, of the same split
again over its own output (nothing to write), and again after one machine's section changed (the last one, so
the whole tree is checked before the new tree is made), each the median of --runs.

    python3 Benchmarks/Fleet/split_benchmark.py [--rivari-check build/host/Tools/RivariCheck/rivari-check]
        [--machines 1000 10000 100000] [--runs 3] [--work DIR]

Fleets and outputs live in a temporary folder (under --work: its file system is the one measured) removed at the
end. Python standard library and GNU time
(Debian's time package), which measures the split's own peak memory.
"""

import argparse
import shutil
import statistics
import subprocess
import tempfile
from pathlib import Path

from fleet import write_fleet


def run_split(tool: Path, fleet: Path, out: Path, work: Path) -> tuple[float, float, int, int]:
    """One split: wall seconds, CPU seconds, peak resident KiB, exit status (GNU time measures the split alone)."""
    report = work / "time.txt"
    status = subprocess.run(["/usr/bin/time", "-o", str(report), "-f", "%e %U %S %M", str(tool), "split",
                             str(fleet / "rivari.ini"), "--map", str(fleet / "map.csv"), "--out", str(out)],
                            stdout=subprocess.DEVNULL, check=False).returncode
    wall, user, system, peak = report.read_text().split()[-4:]
    return float(wall), float(user) + float(system), int(peak), status


def change_last_machine(fleet: Path) -> None:
    """Changes one entry of the last machine's section, a different value each time."""
    path = fleet / "rivari.ini"
    text = path.read_bytes()
    start = text.rindex(b"7 = profile-")
    end = text.index(b"\n", start)
    path.write_bytes(text[:start] + b"7 = profile-" + (b"a" if text[end - 1:end] != b"a" else b"b") + text[end:])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rivari-check", type=Path, default=Path("build/host/Tools/RivariCheck/rivari-check"))
    parser.add_argument("--machines", type=int, nargs="+", default=[1000, 10000, 100000])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work", type=Path, default=None, help="where the temporary folder goes (default: TMPDIR)")
    arguments = parser.parse_args()
    tool = arguments.rivari_check.resolve()
    print("| Machines | File | Run | Wall (median) | CPU (median) | Peak memory | Peak / file |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(prefix="split-benchmark-", dir=arguments.work) as work:
        for machines in arguments.machines:
            fleet = Path(work) / f"fleet-{machines}"
            write_fleet(fleet, machines)
            size = (fleet / "rivari.ini").stat().st_size
            for label, keep, change in (("new folder", False, False), ("again, unchanged", True, False),
                                        ("again, last machine changed", True, True)):
                results = []
                for _ in range(arguments.runs):
                    out = Path(work) / f"out-{machines}"
                    if not keep:
                        shutil.rmtree(out, ignore_errors=True)
                    elif not out.exists():
                        run_split(tool, fleet, out, Path(work))
                    if change:
                        change_last_machine(fleet)
                    wall, cpu, peak, status = run_split(tool, fleet, out, Path(work))
                    if status != 0:
                        raise SystemExit(f"split of {machines} machines exited {status}")
                    results.append((wall, cpu, peak))
                wall = statistics.median(result[0] for result in results)
                cpu = statistics.median(result[1] for result in results)
                peak = max(result[2] for result in results)
                print(f"| {machines:,} | {size / 1e6:.1f} MB | {label} | {wall:.2f} s | {cpu:.2f} s | "
                      f"{peak / 1024:.0f} MiB | {peak * 1024 / size:.2f} |", flush=True)
            shutil.rmtree(Path(work) / f"out-{machines}", ignore_errors=True)
            shutil.rmtree(fleet)


if __name__ == "__main__":
    main()
