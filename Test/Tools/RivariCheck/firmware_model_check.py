#!/usr/bin/env python3
"""The table of firmware facts (Tools/RivariCheck/ServerCheck/FirmwareFacts.json) held to the firmware's own
answers and to the test bed, and rivari-check's model held to the table:

    firmware_model_check.py --tool PATH/rivari-check

- rivari-check --firmware-model says what the table says (the model is generated from it at build time);
- the captured requests are the table's options, byte for byte, as the test bed builds a read request;
- every row names a fault the hostile server has (or a server the test bed starts) and the scenario that measured
  it, or says why its status is assumed; a named scenario exists, serves what the row names, and its transcript
  (the expected lines of Test/Firmware/Scenarios/10-server-faults/faults.py, which the firmware stage checks
  against OVMF) shows the row's status: a size query's on the line "file 1 null 77" (EFI_OUT_OF_RESOURCES there
  means the size query succeeded), a read's on the last "file 1 buffer" line;
- every fault scenario is named by some row.

Exit status 0 when all agree, 1 otherwise. Needs PYTHONPATH=Test (the test bed's package); CTest sets it.
"""

import argparse
import importlib.util
import json
import subprocess
import sys

from testbed import facts, firmware_facts, hostile, servers, tftp_wire

FAULT_TABLE = facts.SCENARIO_ROOT / "10-server-faults" / "faults.py"
PREFIX = "server-"
SIZED_WITHOUT_BUFFER = "EFI_OUT_OF_RESOURCES"
SUCCESS = 0


def load_fault_table():
    spec = importlib.util.spec_from_file_location("faults", FAULT_TABLE)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def line_status(line):
    """The status value of a transcript line "what: NAME 0x..., ..."."""
    return int(line.split(": ", 1)[1].replace(",", "").split()[1], 16)


def scenario_status(table, name, request):
    """The status the fault scenario's transcript shows for REQUEST."""
    numbered = table.expected(name)
    if request == "size_query":
        line = next(line for line in numbered if line.startswith("file 1 null"))
        return SUCCESS if line.split(": ", 1)[1].startswith(SIZED_WITHOUT_BUFFER) else line_status(line)
    return line_status([line for line in numbered if line.startswith("file 1 buffer")][-1])


def check_model(model, problems):
    """The tool's model against the table."""
    table = firmware_facts.TABLE
    requests = {name: [list(option) for option in firmware_facts.request_options(name)] for name in table["requests"]}
    if model["requests"] != requests:
        problems.append("the tool's requests %r, the table's %r" % (model["requests"], requests))
    for key in ("sends", "resend_interval_seconds", "pool_limit_bytes"):
        if float(model[key]) != float(table[key]):
            problems.append("the tool's %s is %r, the table's %r" % (key, model[key], table[key]))
    if len(model["answers"]) != len(table["answers"]):
        problems.append("the tool has %d rows, the table %d" % (len(model["answers"]), len(table["answers"])))
    for shown, row in zip(model["answers"], table["answers"]):
        for key in ("request", "behaviour", "fault", "server", "scenario", "assumed"):
            if shown[key] != row.get(key):
                problems.append("row %r: the tool's %s is %r" % (row, key, shown[key]))
        if int(shown["status_value"], 16) != firmware_facts.status(row):
            problems.append("row %r: the tool's status is %s" % (row, shown["status_value"]))


def check_captures(problems):
    """Each captured request is the table's options as a read request puts them."""
    for request, entry in firmware_facts.TABLE["requests"].items():
        for file_name, captured in entry["captured"].items():
            built = tftp_wire.read_request(file_name, dict(firmware_facts.request_options(request))).hex()
            if built != captured:
                problems.append("%s of %s: captured %s, the table's options make %s" % (request, file_name, captured,
                                                                                      built))


def row_server(row):
    """What serves a row's behaviour, as a fault scenario names its server: (kind, arguments...)."""
    return tuple(row["server"].split()) if row.get("server") else ("hostile", row.get("fault"))


def check_rows(fault_table, problems):
    """Every row measured by a scenario that exists and serves what it names, or assumed with its reason."""
    named = set()
    for row in firmware_facts.TABLE["answers"]:
        label = "%s %s (%s)" % (row["request"], row["behaviour"], row.get("fault") or row.get("server") or "no fault")
        if row.get("fault") is not None and row["fault"] not in hostile.FAULTS:
            problems.append("%s: the hostile server has no fault %r" % (label, row["fault"]))
        if row.get("server") is not None and row["server"].split()[0] not in servers.KINDS:
            problems.append("%s: the test bed starts no server %r" % (label, row["server"]))
        scenario = row.get("scenario")
        if not scenario:
            if not row.get("assumed"):
                problems.append("%s: names no scenario and is not marked assumed with a reason" % label)
            else:
                print("%-10s %-22s %-20s assumed: %s" % (row["request"], row["behaviour"], row["status"],
                                                        row["assumed"]))
            continue
        if not scenario.startswith(PREFIX):
            # A scenario folder of its own (its transcript is checked by the firmware stage).
            if not (facts.SCENARIO_ROOT / scenario).is_dir():
                problems.append("%s: no scenario %s" % (label, scenario))
            continue
        name = scenario[len(PREFIX):]
        if name in fault_table.UNAVAILABLE:
            print("%-10s %-22s %-20s %-28s skipped: %s" % (row["request"], row["behaviour"], row["status"], scenario,
                                                          fault_table.UNAVAILABLE[name]))
            continue
        if name not in fault_table.FAULT_SCENARIOS:
            problems.append("%s: no fault scenario %s" % (label, scenario))
            continue
        named.add(name)
        if fault_table.server(name) != row_server(row):
            problems.append("%s: %s is served by %s" % (label, scenario, " ".join(fault_table.server(name))))
        measured = scenario_status(fault_table, name, row["request"])
        agrees = measured == firmware_facts.status(row)
        print("%-10s %-22s %-20s %-28s 0x%X %s" % (row["request"], row["behaviour"], row["status"], scenario, measured,
                                                  "agrees" if agrees else "DIFFERS"))
        if not agrees:
            problems.append("%s %s: the table says %s, the firmware returned 0x%X" % (scenario, row["request"],
                                                                                   row["status"], measured))
    for name in sorted(set(fault_table.FAULT_SCENARIOS) - named):
        problems.append("fault scenario server-%s is named by no row of the table" % name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True)
    args = parser.parse_args()
    model = json.loads(subprocess.run([args.tool, "--firmware-model"], capture_output=True, check=True).stdout)
    problems = []
    check_model(model, problems)
    check_captures(problems)
    check_rows(load_fault_table(), problems)
    for problem in problems:
        print("FAILED: " + problem)
    if not problems:
        print("the table of firmware facts agrees with the tool, the test bed and every fault scenario")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
