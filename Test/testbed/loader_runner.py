"""The loader "runner": the test runner is the disk's boot program, reads the boot's script and writes the transcript.

The runner loads the service itself (the start-up scenario leads the boot) or, with "driver
load-option", the script writes Driver#### options and resets and the firmware loads it. After each
reset the machine starts again on the same variable store with the rest of the script (sequence.py).
"""

from . import facts, firmware, sequence, transcripts, trees

# The runner's script names its trees (publish-pxe, @NAME/PATH).
SERVES_FOLDER_TREES = False


def compose(runs):
    """The one script of the boot."""
    return trees.compose_script(runs)


def lay_out_disk(machine):
    """The FAT directory: the runner as the default boot program, the driver and the caller example."""
    images = [machine.image(name) for name in (facts.RUNNER_IMAGE, facts.DRIVER_IMAGE, facts.CALLER_IMAGE)]
    firmware.lay_out_images(machine.choices["firmware"], images[0], images[1], images[2:], machine.fat)


def boot(machine, script):
    """Starts the machine once per part of SCRIPT between resets; the runner's transcript gives the blocks."""
    lay_out_disk(machine)
    result = machine.result
    parts = sequence.split_at_resets(script)
    for number, part in enumerate(parts, 1):
        (machine.fat / facts.RUNNER_SCRIPT).write_text(part)
        debug_file = machine.work / ("transcript.txt" if len(parts) == 1 else "transcript-%d.txt" % number)
        machine.start(debug_file)
        result.transcript += debug_file.read_text(errors="replace").splitlines() if debug_file.exists() else []
        if result.transcript[-1:] != [sequence.RESET_LINE]:
            break
    if len(parts) > 1:
        (machine.work / "transcript.txt").write_text("".join(line + "\n" for line in result.transcript))
    result.blocks = transcripts.split_blocks(result.transcript)[1]
    result.done = transcripts.DONE_LINE in result.transcript
