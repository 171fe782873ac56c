"""Scenario folders (Test/Firmware/Scenarios/NN-name/), their runs and how the runs share boots."""

import importlib.util
import re

from . import sequence, settings

PREFIX = re.compile(r"^\d+-")
STARTUP = "start-up"
FAULT_TABLE = "faults.py"


class Scenario:
    """A scenario folder: its script, its expected lines and its tree generators."""

    def __init__(self, folder):
        self.folder = folder
        self.name = PREFIX.sub("", folder.name)
        self.script = (folder / "script.txt").read_text().splitlines()
        self.expected = read_expected(folder / "expected.txt")
        self.generators = load_generators(folder)
        self.servers = None  # the server lines of boot.txt


class FaultScenario:
    """A row of a folder's fault table (faults.py): the hostile server with one fault, the folder's trees."""

    def __init__(self, folder, table, name):
        self.folder = folder
        self.name = "server-" + name
        self.script = table.script(name)
        self.expected = table.expected(name)
        self.generators = table.generators(name)
        self.servers = [(table.server(name), {})]


def load_module(path, name):
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def folder_scenarios(folder):
    """The scenario of a folder, or one per row of its fault table."""
    if (folder / FAULT_TABLE).exists():
        table = load_module(folder / FAULT_TABLE, "faults_" + folder.name.replace("-", "_"))
        return [FaultScenario(folder, table, name) for name in table.FAULT_SCENARIOS]
    return [Scenario(folder)]


def read_expected(path):
    """The expected lines, without comments and trailing blank lines."""
    lines = [line for line in path.read_text().splitlines() if not line.startswith("#")]
    while lines and not lines[-1].strip():
        lines.pop()
    return lines


def load_generators(folder):
    """GENERATED of the folder's generate.py: tree name -> function(directory)."""
    path = folder / "generate.py"
    if not path.exists():
        return {}
    return dict(load_module(path, "generate_" + folder.name.replace("-", "_")).GENERATED)


def load_runs(root, only, choices_table=settings.BOOT_CHOICES):
    """The scenario runs to make: all, or those named in ONLY (by run or scenario name) and start-up."""
    folders = sorted(path for path in root.iterdir() if (path / "script.txt").exists() or (path / FAULT_TABLE).exists())
    runs = [run for folder in folders for scenario in folder_scenarios(folder)
            for run in settings.scenario_runs(scenario, choices_table)]
    names = [run.name for run in runs]
    if len(set(names)) != len(names):
        raise SystemExit("two scenario runs share a name: " + ", ".join(sorted({n for n in names if names.count(n) > 1})))
    if only:
        unknown = set(only) - set(names) - {run.scenario.name for run in runs}
        if unknown:
            raise SystemExit("unknown scenario(s): " + ", ".join(sorted(unknown)))
        runs = [run for run in runs if run.name in only or run.scenario.name in only or run.name == STARTUP]
    return runs


def plan_boots(runs):
    """[(boot key, runs)]: one boot per set of boot settings, start-up at the head of each where the runner loads the driver."""
    startup = [run for run in runs if run.name == STARTUP]
    groups = settings.group_by_boot([run for run in runs if run.name != STARTUP])
    if not groups:
        return [(startup[0].boot_key(), startup)] if startup else []
    return [(key, (startup if sequence.runner_loads_driver(dict(key)) else []) + group) for key, group in groups]
