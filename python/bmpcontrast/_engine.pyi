# The compiled engine (ext/engine_module.cpp); the package's modules wrap it.
from typing import List, Optional, Tuple, Union

VERSION: str

# Each line as (kind, text): kind is "success", "warning" or "error".
Lines = Tuple[Tuple[str, str], ...]

def adjust_file(src: bytes, dst: bytes, level: int,
                overwrite: bool) -> Tuple[int, Lines, int, str]: ...
def adjust_bytes(data: Union[bytes, bytearray, memoryview],
                 level: int) -> Tuple[int, Lines, Optional[bytes]]: ...
def curve(level: int) -> bytes: ...
def results() -> List[Tuple[int, str, str]]: ...
