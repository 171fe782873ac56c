"""The test bed: TolvaneService in real firmware (OVMF under QEMU) against QEMU's server and real TFTP servers.

One package, one module per job (README.md lists them and says how to add a scenario, a loader, a
server, a hostile fault and a boot choice). Python standard library only. Entry points, run from
Test/: `python3 -m testbed.harness` (the firmware stage; Test/Firmware/harness.py from anywhere),
`python3 -m testbed.demo`, `python3 -m testbed.kill_check`, `python3 -m testbed.hostile`.
"""
