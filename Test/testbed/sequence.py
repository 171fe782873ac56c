"""Boots that follow one another on one variable store.

A scenario's "reset" line makes the runner reset the machine (QEMU runs
with -no-reboot, so it stops). The harness then boots again on the same
variable store, the runner reading the rest of the script: what the
previous boot wrote (a Driver#### load option, for instance) is what the
firmware finds at this one. The "== NAME" header of the scenario that
reset opens the next boot's script, so its transcript block goes on.
"""

RESET_COMMAND = "reset"
RESET_LINE = "runner: reset"

# boot.txt "driver runner|load-option": who loads the driver. runner (the
# default): the start-up scenario leads the boot and the runner loads it.
# load-option: nothing loads it before the scenarios; they write Driver####
# options and reset, and the firmware's boot manager loads it.
BOOT_CHOICE = {"driver": ("runner", ("runner", "load-option"))}


def split_at_resets(script):
    """The script of each boot: the composed script cut after every reset line."""
    boots = [[]]
    scenario_line = None
    for line in script.splitlines():
        if line.startswith("scenario "):
            scenario_line = line
        boots[-1].append(line)
        if line.split()[:1] == [RESET_COMMAND]:
            boots.append([scenario_line] if scenario_line else [])
    return ["\n".join(lines) + "\n" for lines in boots if any(not line.startswith("scenario ") for line in lines)]


def runner_loads_driver(choices):
    """TRUE when the start-up scenario leads the boot of these boot choices: the runner's boot, loading the driver."""
    return (choices.get("loader", "runner") == "runner"
            and choices.get("driver", BOOT_CHOICE["driver"][0]) == "runner")
