"""Boot settings of a scenario: the optional boot.txt in its folder, and the runs they make.

boot.txt holds "key value" lines; '#' starts a comment line. Keys:

  server KIND [ARGS] [| CHOICE VALUE ...]
                       the TFTP server of the scenario's trees: qemu (QEMU's own, the default),
                       tftpd-hpa [in.tftpd options], dnsmasq [dnsmasq options] or hostile FAULT
                       (hostile.py), or split FOR MAP: the tree as rivari-check split writes it for
                       server kind FOR with map file MAP of the scenario folder, served by that server
                       started from the lines the split printed (split_servers.py). Several server
                       lines run the scenario once per server; the runs after the first are named
                       NAME@KIND-ARGS (example@dnsmasq, speed@tftpd-hpa-B-1428). Boot choices
                       after a '|' hold for that run only, and its name gets their values
                       (example@tftpd-hpa+e1000, example@tftpd-hpa-B-1428+loss-5).
  tree NAME KIND [ARGS]
                       tree NAME is served by this server instead.
  CHOICE VALUE         one of the boot choices the caller passes in (BOOT_CHOICES below: firmware,
                       loader, drivers, driver, nic, loss, dhcp).

Scenarios whose runs agree on every boot choice share one boot. The network is one such choice, taken
from the servers: the private tap network (tap.py) when a real server serves any tree of the run, else
QEMU's user network; QEMU's server keeps its own user network card in a tap boot too.
"""

from pathlib import Path

from . import dhcp, firmware, loaders, loss, nics, sequence, servers, split_servers

SETTINGS_NAME = "boot.txt"
QEMU_SERVER = ("qemu",)

# The boot choices of the firmware stage: key -> (default, allowed values or a function that turns the
# line's words into the value, raising ValueError). A new kind of choice is one more entry.
BOOT_CHOICES = {**firmware.BOOT_CHOICE, **loaders.BOOT_CHOICE, **sequence.BOOT_CHOICE, **nics.BOOT_CHOICE,
                **loss.BOOT_CHOICE, **dhcp.BOOT_CHOICE}


class Run:
    """One run of a scenario: its name, its server, its trees' own servers and its boot choices."""

    def __init__(self, scenario, name, server, tree_servers, choices):
        self.scenario = scenario
        self.name = name
        self.server = server
        self.tree_servers = tree_servers
        self.choices = choices
        self.trees = {}

    def server_of(self, tree_name):
        return self.tree_servers.get(tree_name, self.server)

    def network(self):
        """"tap" when any tree of the run is served on the tap network, else "user"."""
        servers_of_run = [self.server] + list(self.tree_servers.values())
        return "tap" if any(server != QEMU_SERVER for server in servers_of_run) else "user"

    def boot_key(self):
        """The choices a boot is made of; runs with equal keys share one boot."""
        return (("network", self.network()),) + tuple(sorted(self.choices.items()))


def check_server(words, where):
    """The server tuple of WORDS (KIND and its arguments); stops on an unknown kind or a missing fault."""
    kinds = QEMU_SERVER + servers.KINDS + (split_servers.KIND,)
    if not words or words[0] not in kinds:
        raise SystemExit("%s: server kind must be one of %s" % (where, ", ".join(kinds)))
    if words[0] == "qemu" and len(words) > 1:
        raise SystemExit("%s: QEMU's server takes no options" % where)
    if words[0] == "hostile" and len(words) != 2:
        raise SystemExit("%s: hostile takes one fault" % where)
    if split_servers.is_split(words):
        try:
            split_servers.check_arguments(words[1:])
        except ValueError as error:
            raise SystemExit("%s: %s" % (where, error))
    return tuple(words)


def choice_value(choice, values, where):
    """The value of a boot choice line: one of its allowed values, or what its parser makes of the words."""
    allowed = choice[1]
    if isinstance(allowed, tuple):
        if len(values) == 1 and values[0] in allowed:
            return values[0]
        raise SystemExit("%s: takes one of %s" % (where, ", ".join(allowed)))
    try:
        return allowed(values)
    except ValueError as error:
        raise SystemExit("%s: %s" % (where, error))


def run_choices(parts, choices_table, where):
    """{choice: value} of a server line's '|' parts ("nic e1000", "loss 5")."""
    choices = {}
    for part in parts:
        words = part.split()
        if not words or words[0] not in choices_table:
            raise SystemExit("%s: not a boot choice: %s" % (where, part.strip()))
        choices[words[0]] = choice_value(choices_table[words[0]], words[1:], where)
    return choices


def read_settings(folder, choices_table):
    """
    ([(server tuple, {choice: value of that run only})], {tree name: server tuple}, {choice: value})
    from the folder's boot.txt.
    """
    path = Path(folder) / SETTINGS_NAME
    found_servers, tree_servers, choices = [], {}, {}
    lines = path.read_text().splitlines() if path.exists() else []
    for number, line in enumerate(lines, 1):
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        where = "%s:%d" % (path, number)
        key, values = words[0], words[1:]
        if key == "server":
            parts = line.split("|")
            found_servers.append((check_server(parts[0].split()[1:], where), run_choices(parts[1:], choices_table, where)))
        elif key == "tree" and values:
            tree_servers[values[0]] = check_server(values[1:], where)
        elif key in choices_table:
            choices[key] = choice_value(choices_table[key], values, where)
        else:
            raise SystemExit("%s: not a boot setting: %s" % (where, line.strip()))
    for key, (default, _) in choices_table.items():
        choices.setdefault(key, default)
    return found_servers or [(QEMU_SERVER, {})], tree_servers, choices


def scenario_runs(scenario, choices_table):
    """The runs of a scenario: one per server line, the first under the scenario's own name."""
    found_servers, tree_servers, choices = read_settings(scenario.folder, choices_table)
    # A row of a fault table brings its own server; the folder's boot.txt gives the rest.
    found_servers = getattr(scenario, "servers", None) or found_servers
    runs = []
    for index, (server, own) in enumerate(found_servers):
        name = scenario.name if index == 0 else "%s@%s" % (scenario.name, "-".join(word.lstrip("-") for word in server))
        name += "" if index == 0 else "".join("+" + (value if key == "nic" else "%s-%s" % (key, value)).replace(" ", "+")
                        for key, value in sorted(own.items()))
        run = Run(scenario, name, server, tree_servers, {**choices, **own})
        if run.network() != "tap" and run.choices.get("loss", loss.DEFAULT) != loss.DEFAULT:
            raise SystemExit("%s: loss needs the tap network (a real server)" % run.name)
        if run.network() != "tap" and run.choices.get("dhcp", dhcp.BOOT_FILE) != dhcp.BOOT_FILE:
            raise SystemExit("%s: dhcp needs the tap network (a real server)" % run.name)
        runs.append(run)
    return runs


def group_by_boot(runs):
    """[(boot key, runs)] in the order the keys first appear, each run list in scenario order."""
    groups = {}
    for run in runs:
        groups.setdefault(run.boot_key(), []).append(run)
    return list(groups.items())


def describe(key):
    return ", ".join("%s %s" % pair for pair in key)
