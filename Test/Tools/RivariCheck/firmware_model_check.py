#!/usr/bin/env python3
"""rivari-check's firmware model against the firmware's own answers:

    firmware_model_check.py --tool PATH/rivari-check

Every row of the model (rivari-check --firmware-model) that names a fault scenario (server-NAME, a row of
Test/Firmware/Scenarios/10-server-faults/faults.py, whose expected lines the firmware stage checks against
OVMF's transcripts) must give the status that scenario's transcript shows: a size query's status on the line
"file 1 null 77" (EFI_OUT_OF_RESOURCES there means the size query succeeded), a read's on the last
"file 1 buffer" line. Every fault scenario must be named by some row, and the model's requests must be the
ones the test bed knows OVMF sends. Exit status 0 when they agree, 1 otherwise. Python standard library only.
"""

import argparse
import importlib.util
import json
import subprocess
import sys
from pathlib import Path

REPOSITORY = Path(__file__).resolve().parents[3]
TABLE = REPOSITORY / "Test" / "Firmware" / "Scenarios" / "10-server-faults" / "faults.py"
PREFIX = "server-"
SIZED_WITHOUT_BUFFER = "EFI_OUT_OF_RESOURCES"
# OVMF's requests as the firmware scenarios' captures show them.
CAPTURED_REQUESTS = {"size_query": [["tsize", "0"], ["windowsize", "4"]],
                     "read": [["blksize", "64512"], ["windowsize", "4"]]}


def load_table():
    spec = importlib.util.spec_from_file_location("faults", TABLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def line_status(line):
    """The status of a transcript line "what: NAME 0x..., ...": its UEFI name, else its value as rivari-check writes it."""
    name, value = line.split(": ", 1)[1].replace(",", "").split()[:2]
    return "0x%016X" % int(value, 16) if name == "EFI_STATUS" else name


def scenario_status(table, name, request):
    """The status the scenario's transcript shows for REQUEST."""
    numbered = table.expected(name)
    if request == "size_query":
        line = next(line for line in numbered if line.startswith("file 1 null"))
        status = line_status(line)
        return "EFI_SUCCESS" if status == SIZED_WITHOUT_BUFFER else status
    return line_status([line for line in numbered if line.startswith("file 1 buffer")][-1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    model = json.loads(subprocess.run([args.tool, "--firmware-model"], capture_output=True, check=True).stdout)
    table = load_table()
    problems = []
    if model["requests"] != CAPTURED_REQUESTS:
        problems.append("requests %r, OVMF sends %r" % (model["requests"], CAPTURED_REQUESTS))
    named = set()
    for row in model["answers"]:
        scenario = row["scenario"] or ""
        if not scenario.startswith(PREFIX):
            continue
        name = scenario[len(PREFIX):]
        if name not in table.FAULT_SCENARIOS:
            problems.append("%s: no such fault scenario" % scenario)
            continue
        named.add(name)
        measured = scenario_status(table, name, row["request"])
        verdict = "agrees" if measured == row["status"] else "DIFFERS"
        print("%-10s %-22s model %-22s %-26s %s %s" % (row["request"], row["behaviour"], row["status"], scenario,
                                                        measured, verdict))
        if measured != row["status"]:
            problems.append("%s %s: the model says %s, the firmware returned %s"
                            % (scenario, row["request"], row["status"], measured))
    for name in sorted(set(table.FAULT_SCENARIOS) - named):
        problems.append("fault scenario server-%s is named by no row of the model" % name)
    for problem in problems:
        print("FAILED: " + problem)
    if not problems:
        print("the firmware model agrees with every fault scenario")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
