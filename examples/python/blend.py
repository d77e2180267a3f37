"""Blend two byte strings with libbyteblend through ctypes.

    python3 blend.py [path/to/libbyteblend.so.1]

Without a path the dynamic loader finds the library on its search path
(LD_LIBRARY_PATH, the system folders).
"""
import ctypes
import sys

path = sys.argv[1] if len(sys.argv) > 1 else "libbyteblend.so.1"
library = ctypes.CDLL(path)

screen = library.ScreenBlend
screen.argtypes = [ctypes.c_int32, ctypes.c_char_p, ctypes.c_char_p,
                   ctypes.c_char_p]
screen.restype = None

top = bytes([0, 64, 128, 192, 255, 30])
bottom = bytes([0, 128, 128, 64, 255, 220])
result = ctypes.create_string_buffer(len(top))
screen(len(top), top, bottom, result)
print("screen:", " ".join(str(value) for value in result.raw))
