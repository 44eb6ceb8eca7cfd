# The compiled engine (ext/engine_module.cpp); the package's modules wrap it.
from typing import Optional, Tuple, Union

VERSION: str
CHUNK_BYTES: int

def adjust_file(src: bytes, dst: bytes, level: int,
                overwrite: bool) -> Tuple[int, Tuple[str, ...], int, str]: ...
def adjust_bytes(data: Union[bytes, bytearray, memoryview],
                 level: int) -> Tuple[int, Tuple[str, ...], Optional[bytes]]: ...
def curve(level: int) -> bytes: ...
