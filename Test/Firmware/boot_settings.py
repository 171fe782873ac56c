"""Boot settings of a firmware scenario: the optional boot.txt in its folder.

boot.txt holds "key value" lines; '#' starts a comment line. Keys:

  server KIND [ARGS]   the TFTP server of the scenario's trees: qemu (QEMU's own,
                       the default), tftpd-hpa [in.tftpd options], dnsmasq
                       [dnsmasq options] or hostile FAULT (Test/Servers/hostile_tftp.py).
                       Several server lines run the scenario once per server;
                       the runs after the first are named NAME@KIND-ARGS
                       (example@dnsmasq, speed@tftpd-hpa-B-1428).
  tree NAME KIND [ARGS]
                       tree NAME is served by this server instead.

Scenarios whose runs agree on every boot choice share one boot. The network
is one such choice, taken from the servers: the private tap network
(tap_network.py) when a real server serves any tree of the run, else QEMU's
user network; QEMU's server keeps its own user network card in a tap boot too.
A choice of another kind is one more entry in BOOT_CHOICES with its default
and allowed values.
Python standard library only.
"""

from pathlib import Path

SETTINGS_NAME = "boot.txt"
QEMU_SERVER = ("qemu",)
TAP_KINDS = ("tftpd-hpa", "dnsmasq", "hostile")

# Boot choices written in boot.txt as "key value": key -> (default, allowed values).
BOOT_CHOICES = {}


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
        servers = [self.server] + list(self.tree_servers.values())
        return "tap" if any(server != QEMU_SERVER for server in servers) else "user"

    def boot_key(self):
        """The choices a boot is made of; runs with equal keys share one boot."""
        return (("network", self.network()),) + tuple(sorted(self.choices.items()))


def check_server(words, where):
    """The server tuple of WORDS (KIND and its arguments); stops on an unknown kind or a missing fault."""
    if not words or words[0] not in QEMU_SERVER + TAP_KINDS:
        raise SystemExit("%s: server kind must be one of %s" % (where, ", ".join(QEMU_SERVER + TAP_KINDS)))
    if words[0] == "qemu" and len(words) > 1:
        raise SystemExit("%s: QEMU's server takes no options" % where)
    if words[0] == "hostile" and len(words) != 2:
        raise SystemExit("%s: hostile takes one fault" % where)
    return tuple(words)


def read_settings(folder):
    """(server tuples, {tree name: server tuple}, {choice: value}) from the folder's boot.txt."""
    path = Path(folder) / SETTINGS_NAME
    servers, tree_servers, choices = [], {}, {}
    lines = path.read_text().splitlines() if path.exists() else []
    for number, line in enumerate(lines, 1):
        words = line.split()
        if not words or words[0].startswith("#"):
            continue
        where = "%s:%d" % (path, number)
        key, values = words[0], words[1:]
        if key == "server":
            servers.append(check_server(values, where))
        elif key == "tree" and values:
            tree_servers[values[0]] = check_server(values[1:], where)
        elif key in BOOT_CHOICES and len(values) == 1 and values[0] in BOOT_CHOICES[key][1]:
            choices[key] = values[0]
        else:
            raise SystemExit("%s: not a boot setting: %s" % (where, line.strip()))
    for key, (default, _) in BOOT_CHOICES.items():
        choices.setdefault(key, default)
    return servers or [QEMU_SERVER], tree_servers, choices


def scenario_runs(scenario):
    """The runs of a scenario: one per server line, the first under the scenario's own name."""
    servers, tree_servers, choices = read_settings(scenario.folder)
    runs = []
    for index, server in enumerate(servers):
        name = scenario.name if index == 0 else "%s@%s" % (scenario.name, "-".join(word.lstrip("-") for word in server))
        runs.append(Run(scenario, name, server, tree_servers, choices))
    return runs


def group_by_boot(runs):
    """[(boot key, runs)] in the order the keys first appear, each run list in scenario order."""
    groups = {}
    for run in runs:
        groups.setdefault(run.boot_key(), []).append(run)
    return list(groups.items())


def describe(key):
    return ", ".join("%s %s" % pair for pair in key)
