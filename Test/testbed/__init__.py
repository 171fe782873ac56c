"""The test bed: TolvaneService in real firmware (OVMF under QEMU) against QEMU's server and real TFTP servers.

One package, one module per job (README.md lists them and says how to add a scenario, a server, a
hostile fault and a boot choice). Python standard library only. Entry points: Test/Firmware/harness.py
(the firmware stage), `python3 -m testbed.demo`, `python3 -m testbed.kill_check`,
`python3 -m testbed.hostile`, with Test/ on PYTHONPATH.
"""
