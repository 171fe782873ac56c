"""The card matrix's 1 MiB tree, one per block size."""

import importlib.util
from pathlib import Path

_SPEC = importlib.util.spec_from_file_location("card_generate", Path(__file__).resolve().parents[1] / "card" / "generate.py")
_CARD = importlib.util.module_from_spec(_SPEC)
_SPEC.loader.exec_module(_CARD)

GENERATED = {name: _CARD.mib_tree for name in ("b4428", "b8192", "b16384", "b32768")}
