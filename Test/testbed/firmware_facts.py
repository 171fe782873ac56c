"""The table of firmware facts (Tools/RivariCheck/ServerCheck/FirmwareFacts.json), read once for the test bed:
OVMF's requests and schedule as it sends them for the driver, and the status per server behaviour.

    firmware_facts.request_options("read")     # [("blksize", "64512"), ("windowsize", "4")]
    firmware_facts.RESEND_SECONDS, firmware_facts.SENDS, firmware_facts.PATIENCE_SECONDS
    firmware_facts.rows_of(fault="no-size")    # the answer rows a hostile fault (or a real server) shows
    firmware_facts.status(row)                 # a row's status as a number
"""

import json

from . import facts

PATH = facts.REPOSITORY / "Tools" / "RivariCheck" / "ServerCheck" / "FirmwareFacts.json"
TABLE = json.loads(PATH.read_text())
SENDS = int(TABLE["sends"])
RESEND_SECONDS = float(TABLE["resend_interval_seconds"])
# The longest silence a transfer survives in the firmware: every send waited out.
PATIENCE_SECONDS = SENDS * RESEND_SECONDS
SUCCESS = 0


def request_options(request):
    """The options of REQUEST ("size_query" or "read") in the order and spelling OVMF sends them."""
    return [tuple(option) for option in TABLE["requests"][request]["options"]]


def status(row):
    """The status of an answer row, as a number."""
    return int(row["status"], 16)


def rows_of(fault=None, server=None):
    """The answer rows that name FAULT of the hostile server, or the real SERVER (with its arguments)."""
    return [row for row in TABLE["answers"]
            if (fault is not None and row.get("fault") == fault) or (server is not None and row.get("server") == server)]
