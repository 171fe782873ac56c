#!/usr/bin/env python3
"""Writes the firmware model's C++ tables from the table of firmware facts (FirmwareFacts.json):

    generate_firmware_model.py FACTS.json OUT_DIR

OUT_DIR/FirmwareFacts.h gets the behaviours (the enum and its JSON names, in one order), the schedule and
the pool limit; OUT_DIR/FirmwareAnswers.inc the requests' options, the captured request bytes and every
answer row. A table that cannot be one (an unknown behaviour or request, a status that is no 64-bit value, a
row naming neither a scenario nor why its status is assumed) stops the build with the reason. Python
standard library only.
"""

import json
import sys
from pathlib import Path

REQUESTS = {"size_query": "FirmwareRequest::SizeQuery", "read": "FirmwareRequest::Read"}


class BadTable(Exception):
    pass


def c_string(text):
    """TEXT as a C string literal (the table holds printable ASCII)."""
    if not all(32 <= ord(character) < 127 for character in text):
        raise BadTable("%r: only printable ASCII belongs in the table" % text)
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def c_string_or_null(text):
    return "nullptr" if text is None else c_string(text)


def status_value(row):
    try:
        value = int(row["status"], 16)
    except (KeyError, TypeError, ValueError):
        raise BadTable("row %r: status must be a hexadecimal EFI_STATUS" % row)
    if not 0 <= value < 1 << 64:
        raise BadTable("row %r: status out of range" % row)
    return value


def check_row(row, behaviours):
    if row.get("request") not in REQUESTS:
        raise BadTable("row %r: request must be one of %s" % (row, ", ".join(REQUESTS)))
    if row.get("behaviour") not in behaviours:
        raise BadTable("row %r: no behaviour %r in the table's behaviours" % (row, row.get("behaviour")))
    if "fault" in row and "server" in row:
        raise BadTable("row %r: names the hostile server's fault or a real server, not both" % row)
    if row.get("scenario") and "fault" not in row and "server" not in row:
        raise BadTable("row %r: measured by a scenario, but with neither a fault nor a server" % row)
    if not row.get("scenario") and not row.get("assumed"):
        raise BadTable("row %r: names no scenario that measured it and says not why its status is assumed" % row)
    if row.get("scenario") and row.get("assumed"):
        raise BadTable("row %r: measured by a scenario and assumed at once" % row)


def facts_header(facts):
    behaviours = facts["behaviours"]
    lines = ["/* Generated from FirmwareFacts.json by generate_firmware_model.py: edit the table, not this file. */",
             "#ifndef TOLVANE_TOOLS_FIRMWARE_FACTS_H", "#define TOLVANE_TOOLS_FIRMWARE_FACTS_H", "",
             "#include <chrono>", "#include <cstdint>", "", "namespace RivariCheck {", "",
             "/* What a server did with one request, as the firmware tells the cases apart. */",
             "enum class ServerBehaviour {"]
    lines += ["  %s, // %s" % (item["enum"], item["about"]) for item in behaviours]
    lines += ["};", "",
              "/* The name of each behaviour in JSON, in the order of the enum. */",
              "constexpr const char *ServerBehaviourNames[] = {"]
    lines += ["    %s," % c_string(item["name"]) for item in behaviours]
    lines += ["};",
              "static_assert(sizeof(ServerBehaviourNames) / sizeof(ServerBehaviourNames[0]) == %d);" % len(behaviours),
              "static_assert(static_cast<int>(ServerBehaviour::%s) == %d);" % (behaviours[-1]["enum"],
                                                                            len(behaviours) - 1),
              "",
              "/* OVMF sends each request and each acknowledgement up to this many times, this far apart, then gives up. */",
              "constexpr uint32_t FirmwareSends = %d;" % int(facts["sends"]),
              "constexpr std::chrono::milliseconds FirmwareResendInterval{%d};"
              % round(float(facts["resend_interval_seconds"]) * 1000),
              "/* The longest silence a transfer survives: every send waited out. */",
              "constexpr std::chrono::milliseconds FirmwarePatience = FirmwareSends * FirmwareResendInterval;", "",
              "/* The most boot-services pool the check assumes a fetch can have: %s. */" % facts["pool_limit_assumed"],
              "constexpr uint64_t FirmwarePoolLimit = %dull;" % int(facts["pool_limit_bytes"]), "",
              "} // namespace RivariCheck", "", "#endif", ""]
    return "\n".join(lines)


def answers_source(facts):
    behaviours = {item["name"]: item["enum"] for item in facts["behaviours"]}
    lines = ["/* Generated from FirmwareFacts.json by generate_firmware_model.py: edit the table, not this file. */",
             "/* Included by FirmwareModel.cpp inside its namespace. */", ""]
    for request, name in (("size_query", "SizeQueryOptions"), ("read", "ReadOptions")):
        options = facts["requests"][request]["options"]
        lines.append("constexpr FirmwareOption %s[] = {%s};" % (
            name, ", ".join("{%s, %s}" % (c_string(option), c_string(value)) for option, value in options)))
    read_block_size = dict(facts["requests"]["read"]["options"]).get("blksize")
    lines.append("static_assert(%s == TOLVANE_TFTP_BLOCK_SIZE, \"the read asks for the driver's block size\");"
                 % int(read_block_size))
    lines += ["", "constexpr CapturedRequest CapturedRequestRows[] = {"]
    for request, captured in ((request, facts["requests"][request]["captured"]) for request in REQUESTS):
        for file_name, hex_bytes in captured.items():
            bytes.fromhex(hex_bytes)
            lines.append("    {%s, %s, %s}," % (REQUESTS[request], c_string(file_name), c_string(hex_bytes)))
    lines += ["};", "", "constexpr FirmwareAnswerRow Answers[] = {"]
    for row in facts["answers"]:
        check_row(row, behaviours)
        lines.append("    {%s, ServerBehaviour::%s, 0x%016XULL, %s, %s, %s, %s}," % (
            REQUESTS[row["request"]], behaviours[row["behaviour"]], status_value(row),
            c_string_or_null(row.get("fault")), c_string_or_null(row.get("server")),
            c_string_or_null(row.get("scenario")), c_string_or_null(row.get("assumed"))))
    lines += ["};", ""]
    return "\n".join(lines)


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    facts_path, out_dir = Path(argv[1]), Path(argv[2])
    try:
        facts = json.loads(facts_path.read_text())
        header = facts_header(facts)
        source = answers_source(facts)
    except (OSError, ValueError, KeyError, TypeError, BadTable) as problem:
        print("%s: %s" % (facts_path, problem), file=sys.stderr)
        return 1
    out_dir.mkdir(parents=True, exist_ok=True)
    (out_dir / "FirmwareFacts.h").write_text(header)
    (out_dir / "FirmwareAnswers.inc").write_text(source)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
