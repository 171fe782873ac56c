"""Split trees: rivari-check split writes a tree for one server kind, and the server starts from the lines it printed.

boot.txt names such a server "split FOR MAP": FOR one of rivari-check split's --for kinds, MAP a map file in
the scenario's folder. The tree's source folder is the fleet (its rivari.ini and numbered files); the split
writes the served tree from it, and a dnsmasq gets a configuration file of the printed lines, tftpd-hpa the
printed /etc/default/tftpd-hpa settings as Debian's package passes them to in.tftpd. With the dhcp setting
"split-dnsmasq" the first such dnsmasq of the boot is the boot's DHCP server, offering what the lines say.
"""

import contextlib
import json
import shlex
import subprocess

from . import facts, servers
from .processes import process_group

KIND = "split"
FOR_KINDS = ("dnsmasq-ip", "dnsmasq-mac", "tftpd-hpa")
RIVARI_CHECK = facts.REPOSITORY / "build" / "host" / "Tools" / "RivariCheck" / "rivari-check"
BUILD_HINT = "cmake --preset host && cmake --build --preset host --target rivari-check"


def is_split(server):
    return server[0] == KIND


def check_arguments(words):
    """Raises ValueError unless WORDS (after the kind) are one --for kind and one map file name."""
    if len(words) != 2 or words[0] not in FOR_KINDS:
        raise ValueError("split takes one of %s and a map file of the scenario folder" % ", ".join(FOR_KINDS))


def serves_dhcp_too(server):
    return is_split(server) and server[1].startswith("dnsmasq")


def write_tree(tree):
    """
    Runs rivari-check split over the fleet of TREE (tree.source) with the map file of its scenario folder into
    tree.directory; returns the server configuration lines it printed. Stops when rivari-check is not built,
    raises RuntimeError when the split does not write every client.
    """
    if not RIVARI_CHECK.is_file():
        raise SystemExit("%s not found: build the host preset first (%s)" % (RIVARI_CHECK, BUILD_HINT))
    tree.directory.parent.mkdir(parents=True, exist_ok=True)
    command = [str(RIVARI_CHECK), "split", str(tree.source / facts.CONFIGURATION_FILE), "--map",
               str(tree.folder / tree.server[2]), "--out", str(tree.directory), "--for", tree.server[1], "--json"]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError("%s exited with status %d:\n%s%s" % (" ".join(command), done.returncode, done.stdout,
                                                                done.stderr))
    lines = json.loads(done.stdout).get("server_lines")
    if not lines:
        raise RuntimeError("%s printed no server lines:\n%s" % (" ".join(command), done.stdout))
    return lines


def tftpd_settings(lines):
    """{name: value} of the printed shell assignments (/etc/default/tftpd-hpa), read as the shell reads them."""
    settings = {}
    for line in lines:
        for word in shlex.split(line, comments=True):
            name, equals, value = word.partition("=")
            if not equals:
                raise ValueError("not a shell assignment: %r" % line)
            settings[name] = value
    return settings


@contextlib.contextmanager
def tftpd_hpa(tree, address, log_path):
    """in.tftpd as Debian's package starts it: --listen --user U --address A $TFTP_OPTIONS $TFTP_DIRECTORY."""
    settings = tftpd_settings(tree.server_lines)
    if "TFTP_DIRECTORY" not in settings:
        raise RuntimeError("rivari-check split printed no TFTP_DIRECTORY: %s" % tree.server_lines)
    # In the foreground (which implies --listen), IPv4 only and verbose, so the test bed holds its process.
    command = ["in.tftpd", "--foreground", "--ipv4", "-vvv", "--user", "nobody", "--address",
               "%s:%d" % (address, facts.TFTP_PORT)]
    command += shlex.split(settings.get("TFTP_OPTIONS", "")) + shlex.split(settings["TFTP_DIRECTORY"])
    with process_group(command, log_path) as process:
        server = servers.RunningServer("tftpd-hpa (split)", address, facts.TFTP_PORT, process, log_path)
        servers.wait_until_answering(server)
        yield server


def dnsmasq_configuration(tree, address, work, serves_dhcp):
    """The printed lines, then what binds the dnsmasq to the tap network: the only lines the test bed adds."""
    lines = list(tree.server_lines)
    lines += ["# Added by the test bed, and nothing else: the tap network, no DNS, the log, pid and lease files.",
              "listen-address=%s" % address, "bind-interfaces", "port=0", "no-resolv", "log-facility=-",
              "pid-file="]
    if serves_dhcp:
        lines += ["dhcp-range=%s,%s,255.255.255.0,12h" % (facts.GUEST_ADDRESS, facts.GUEST_ADDRESS),
                  "dhcp-leasefile=%s" % (work / ("dhcp-%s.leases" % address))]
    return "\n".join(lines) + "\n"


@contextlib.contextmanager
def dnsmasq(tree, address, work, log_path, serves_dhcp):
    """dnsmasq from a configuration file of the split's lines; with SERVES_DHCP the boot's DHCP server too."""
    conf = work / ("dnsmasq-%s.conf" % address)
    conf.write_text(dnsmasq_configuration(tree, address, work, serves_dhcp))
    with process_group(["dnsmasq", "--keep-in-foreground", "--conf-file=%s" % conf], log_path) as process:
        server = servers.RunningServer("dnsmasq (split)", address, facts.TFTP_PORT, process, log_path)
        servers.wait_until_answering(server)
        yield server


def start(tree, work, log_path, serves_dhcp):
    """The server of a split TREE at its address, started from the lines the split printed."""
    if tree.server[1] == "tftpd-hpa":
        return tftpd_hpa(tree, tree.address, log_path)
    return dnsmasq(tree, tree.address, work, log_path, serves_dhcp)


def dhcp_tree(served):
    """The tree whose dnsmasq serves the boot's DHCP: the first split dnsmasq; raises RuntimeError without one."""
    for tree in served:
        if serves_dhcp_too(tree.server):
            return tree
    raise RuntimeError("dhcp split-dnsmasq: no split dnsmasq serves a tree of this boot")
