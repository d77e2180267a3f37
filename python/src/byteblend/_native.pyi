from typing import Any, Optional, Tuple

# The package's functions give the precise types; this one takes whatever
# they are given and checks it at run time.
def blend(mode: object, top: object, bottom: object, out: object,
          threads: Optional[int], opacity: float) -> Any: ...
def composite(mode: object, top: object, bottom: object, out: object,
              operator: object, opacity: float,
              threads: Optional[int]) -> Any: ...
def _set_piece_size(size: int) -> None: ...
def _piece_size() -> int: ...

default_piece_size: int
# The mode names of the C++ interface, in its order; composite's: those and
# "normal".
modes: Tuple[str, ...]
composite_modes: Tuple[str, ...]
