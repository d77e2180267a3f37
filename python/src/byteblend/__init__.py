# SPDX-License-Identifier: MIT
"""Exact 8-bit blend modes for numpy arrays and other byte buffers.

byteblend blends two arrays of uint8 values, value by value, in thirteen
blend modes; every output byte is fixed to the last bit. The work is done by
libbyteblend (carried inside this package) without the GIL, on every core
for large arrays.

    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.screen(top, bottom)
    array([  0, 160, 192, 208, 255, 224], dtype=uint8)

blend(mode, top, bottom) takes the mode by name; screen(top, bottom) and
the other twelve functions take it from their own name. help() of each
gives its formula, its arguments, what it raises and an example.

Arrays need not be contiguous: views such as ``image[:, ::2]`` or
``image[::-1]`` are blended row by row, through a packed copy of each row
where its bytes are not one run, on the threads a contiguous array would
use; ``out`` is written through its own strides either way.
"""
from __future__ import annotations

from typing import Any, Callable, Literal, Mapping, Optional, Protocol, Tuple
from typing import TypeVar, Union, overload

import numpy as np
from numpy.typing import NDArray

from . import _native
from ._version import __version__

__all__ = [
    "MODES", "Mode", "Input", "PillowImage", "blend", "addition",
    "subtraction", "multiplication", "screen", "overlay", "lighten",
    "darken", "color_dodge", "color_burn", "opacity", "red_channel",
    "green_channel", "blue_channel", "__version__",
]

#: The thirteen mode names, as the byteblend tool and C++ interface spell
#: them; blend() takes them in any case, with '_' for '-' too.
MODES: Tuple[str, ...] = (
    "addition", "subtraction", "multiplication", "screen", "overlay",
    "lighten", "darken", "color-dodge", "color-burn", "opacity",
    "red-channel", "green-channel", "blue-channel",
)

#: A mode's name as a type checker sees it: MODES, and the names of the
#: functions (color_dodge). blend() also takes them in any case.
Mode = Literal[
    "addition", "subtraction", "multiplication", "screen", "overlay",
    "lighten", "darken", "color-dodge", "color-burn", "opacity",
    "red-channel", "green-channel", "blue-channel",
    "color_dodge", "color_burn", "red_channel", "green_channel",
    "blue_channel",
]


class PillowImage(Protocol):
    """A Pillow image as a type checker knows one, without importing PIL:
    what numpy.asarray reads (__array_interface__) and what no numpy array
    has (getbands), so that arrays of other dtypes are still refused."""

    @property
    def __array_interface__(self) -> Mapping[str, Any]:
        ...

    def getbands(self) -> Tuple[str, ...]:
        ...


#: top and bottom as a type checker sees them. At run time anything else
#: that numpy.asarray makes a uint8 array of is taken too (an object with
#: __array__, a list of ints in 0..255).
Input = Union[NDArray[np.uint8], bytes, bytearray, memoryview, PillowImage]

#: out: a writable uint8 array or buffer; the call returns it, as its type.
Out = TypeVar("Out", bound=Union[NDArray[np.uint8], bytearray, memoryview])

_blend = _native.blend

_ARGUMENTS = """
    Parameters
    ----------
    top : uint8 array, bytes-like object or array-like
        The layer blended on. A numpy array of uint8, any object with the
        buffer protocol (bytes, bytearray, memoryview), or anything
        numpy.asarray makes a uint8 array of (a Pillow image, a list of
        ints in 0..255). It has bottom's shape, or one that broadcasts to
        it as numpy broadcasts: one colour (3,) onto any RGB image, a grey
        (H, W, 1) layer onto an (H, W, 3) image; a grey (H, W) layer too,
        taken as (H, W, 1) where numpy's own rule does not fit. A plain
        buffer of bottom's size pairs with it byte for byte.
    bottom : uint8 array, bytes-like object or array-like
        The image blended onto; its shape is the result's.
    out : None, or a writable uint8 array or buffer
        Where to write: None for a new array of bottom's shape, else an
        array of that shape (a buffer: of that size). It may be top or
        bottom itself, for a blend in place, but may not overlap them any
        other way; a view such as bottom[y:y+h, x:x+w] blends top onto
        that part of bottom.
    threads : None or int, keyword only
        None: up to every core this process may use, where more threads
        pay for the mode and size (color dodge, burn and overlay from a
        few hundred KiB, the other modes from 8 MiB), else the calling
        thread; 1: the calling thread only; N: up to N threads (any
        positive int). The bytes are the same for every count.

    Returns
    -------
    out, or the new uint8 array.

    Raises
    ------
    TypeError
        For items other than uint8, naming the conversion they need (floats
        in 0..1: ``(a * 255).round().astype(np.uint8)``; uint16:
        ``(a >> 8).astype(np.uint8)``), and for objects that are no array.
    ValueError
        For an unknown mode (with the closest names), shapes that neither
        match nor broadcast, a read-only out (pass ``out.copy()``, or
        ``np.array(image)`` rather than the read-only
        ``np.asarray(image)``), an out that overlaps top or bottom other
        than as the very same array, and, for the channel modes, arrays
        whose last axis is not 3.
    MemoryError
        When a new array cannot be allocated; it says how many bytes.
    Nothing is written when a call raises.
"""

_F = TypeVar("_F", bound=Callable[..., Any])


def _documented(function: _F) -> _F:
    """Puts the arguments, results and errors that every blend function
    shares into its docstring, where it says {arguments}."""
    if function.__doc__:
        function.__doc__ = function.__doc__.replace("{arguments}",
                                                    _ARGUMENTS)
    return function


def _as_array(value: Any, role: str) -> Any:
    """An input without the buffer protocol, as numpy.asarray gives it (the
    extension calls this): a Pillow image, through __array_interface__, or
    an object with __array__, as the array it exports; a list or tuple of
    ints in 0..255 as a new uint8 array. The extension then checks the
    items, so an image of another type is refused there by its dtype."""
    array = np.asarray(value)
    if array.dtype.kind in "OSUV":
        raise TypeError(
            f"{role} must be a uint8 numpy array, a buffer such as bytes, or "
            "what numpy.asarray makes one of (a Pillow image, a list of ints "
            f"in 0..255), not {type(value).__name__}")
    # numpy gives Python ints its default integer type; they are bytes if
    # they fit in one.
    if array.dtype.kind in "iu" and isinstance(value, (list, tuple, int)):
        if array.size and (array.min() < 0 or array.max() > 255):
            raise ValueError(
                f"{role} holds values outside 0..255 ({array.min()} to "
                f"{array.max()}); clip them first: np.clip({role}, 0, 255)")
        array = array.astype(np.uint8)
    return array


@overload
def blend(mode: Mode, top: Input, bottom: Input, out: None = None, *,
          threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def blend(mode: Mode, top: Input, bottom: Input, out: Out, *,
          threads: Optional[int] = None) -> Out:
    ...
@_documented
def blend(
        mode: Mode, top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Blends top onto bottom in the named mode: where t is top's byte and b
    bottom's byte at the same index, each byte of the result is

        addition        t + b, clamped to 255
        subtraction     t - b, clamped to 0
        multiplication  t * b / 255, rounded to nearest
        screen          255 * (1 - (1 - t/255) * (1 - b/255)), rounded
        overlay         2 * t * b / 255 where b <= 127,
                        255 * (1 - 2 * (1 - t/255) * (1 - b/255)) where
                        b >= 128, rounded to nearest
        lighten         the larger of t and b
        darken          the smaller of t and b
        color-dodge     255 * b / (255 - t), rounded, clamped to 255;
                        255 where t = 255
        color-burn      255 - 255 * (255 - b) / t, rounded, clamped to 0;
                        0 where t = 0
        opacity         (t + b) / 2, rounded down
        red-channel     3t + b, clamped to 255, in the red value of each
                        RGB pixel only (green-channel, blue-channel: the
                        green, the blue value); out's other two values
                        keep what they held, and a new array starts as a
                        copy of bottom

    The channel modes take packed RGB pixels: arrays of more than one axis
    must have 3 as their last axis.

    mode : str
        One of MODES, in any case, with '_' or '-' between words, so each
        function's name (color_dodge) is a mode's name too.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.blend("color_dodge", top, bottom)
    array([  0, 171, 255, 255, 255, 249], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        mode, top, bottom, out, threads)


@overload
def addition(top: Input, bottom: Input, out: None = None, *,
             threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def addition(top: Input, bottom: Input, out: Out, *,
             threads: Optional[int] = None) -> Out:
    ...
@_documented
def addition(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Addition blend of top onto bottom. Each byte of the result is

        t + b, clamped to 255

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.addition(top, bottom)
    array([  0, 192, 255, 255, 255, 250], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "addition", top, bottom, out, threads)

@overload
def subtraction(top: Input, bottom: Input, out: None = None, *,
                threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def subtraction(top: Input, bottom: Input, out: Out, *,
                threads: Optional[int] = None) -> Out:
    ...
@_documented
def subtraction(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Subtraction blend of top onto bottom. Each byte of the result is

        t - b, clamped to 0

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.subtraction(top, bottom)
    array([  0,   0,   0, 128,   0,   0], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "subtraction", top, bottom, out, threads)

@overload
def multiplication(top: Input, bottom: Input, out: None = None, *,
                   threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def multiplication(top: Input, bottom: Input, out: Out, *,
                   threads: Optional[int] = None) -> Out:
    ...
@_documented
def multiplication(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Multiplication blend of top onto bottom. Each byte of the result is

        t * b / 255, rounded to nearest

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.multiplication(top, bottom)
    array([  0,  32,  64,  48, 255,  26], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "multiplication", top, bottom, out, threads)

@overload
def screen(top: Input, bottom: Input, out: None = None, *,
           threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def screen(top: Input, bottom: Input, out: Out, *,
           threads: Optional[int] = None) -> Out:
    ...
@_documented
def screen(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Screen blend of top onto bottom. Each byte of the result is

        255 * (1 - (1 - t/255) * (1 - b/255)), rounded to nearest

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.screen(top, bottom)
    array([  0, 160, 192, 208, 255, 224], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "screen", top, bottom, out, threads)

@overload
def overlay(top: Input, bottom: Input, out: None = None, *,
            threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def overlay(top: Input, bottom: Input, out: Out, *,
            threads: Optional[int] = None) -> Out:
    ...
@_documented
def overlay(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Overlay blend of top onto bottom. Each byte of the result is

        2 * t * b / 255 (multiply) where b <= 127;
        255 * (1 - 2 * (1 - t/255) * (1 - b/255)) (screen) where b >= 128;
        rounded to nearest

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.overlay(top, bottom)
    array([  0,  65, 128,  96, 255, 193], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "overlay", top, bottom, out, threads)

@overload
def lighten(top: Input, bottom: Input, out: None = None, *,
            threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def lighten(top: Input, bottom: Input, out: Out, *,
            threads: Optional[int] = None) -> Out:
    ...
@_documented
def lighten(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Lighten blend of top onto bottom. Each byte of the result is

        the larger of t and b

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.lighten(top, bottom)
    array([  0, 128, 128, 192, 255, 220], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "lighten", top, bottom, out, threads)

@overload
def darken(top: Input, bottom: Input, out: None = None, *,
           threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def darken(top: Input, bottom: Input, out: Out, *,
           threads: Optional[int] = None) -> Out:
    ...
@_documented
def darken(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Darken blend of top onto bottom. Each byte of the result is

        the smaller of t and b

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.darken(top, bottom)
    array([  0,  64, 128,  64, 255,  30], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "darken", top, bottom, out, threads)

@overload
def color_dodge(top: Input, bottom: Input, out: None = None, *,
                threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def color_dodge(top: Input, bottom: Input, out: Out, *,
                threads: Optional[int] = None) -> Out:
    ...
@_documented
def color_dodge(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Color-dodge blend of top onto bottom. Each byte of the result is

        255 * b / (255 - t), rounded to nearest, clamped to 255;
        255 where t = 255

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.color_dodge(top, bottom)
    array([  0, 171, 255, 255, 255, 249], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "color-dodge", top, bottom, out, threads)

@overload
def color_burn(top: Input, bottom: Input, out: None = None, *,
               threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def color_burn(top: Input, bottom: Input, out: Out, *,
               threads: Optional[int] = None) -> Out:
    ...
@_documented
def color_burn(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Color-burn blend of top onto bottom. Each byte of the result is

        255 - 255 * (255 - b) / t, rounded to nearest, clamped to 0;
        0 where t = 0

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.color_burn(top, bottom)
    array([  0,   0,   2,   1, 255,   0], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "color-burn", top, bottom, out, threads)

@overload
def opacity(top: Input, bottom: Input, out: None = None, *,
            threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def opacity(top: Input, bottom: Input, out: Out, *,
            threads: Optional[int] = None) -> Out:
    ...
@_documented
def opacity(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Opacity blend of top onto bottom. Each byte of the result is

        (t + b) / 2, rounded down (a half-and-half mix)

    where t is top's byte and b bottom's byte at the same index.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)
    >>> byteblend.opacity(top, bottom)
    array([  0,  96, 128, 128, 255, 125], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "opacity", top, bottom, out, threads)

@overload
def red_channel(top: Input, bottom: Input, out: None = None, *,
                threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def red_channel(top: Input, bottom: Input, out: Out, *,
                threads: Optional[int] = None) -> Out:
    ...
@_documented
def red_channel(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Red-channel blend of top onto bottom. Each byte of the result is

        3 * t + b, clamped to 255, in the red value (index 0) of each
        RGB pixel only; the green and blue values of out keep what
        they held

    where t is top's byte and b bottom's byte at the same index.

    The arrays are packed RGB pixels: an array of more than one axis must
    have 3 as its last axis. A new array starts as a copy of bottom.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([[10, 20, 30], [200, 100, 50]], np.uint8)
    >>> bottom = np.array([[40, 50, 60], [70, 80, 90]], np.uint8)
    >>> byteblend.red_channel(top, bottom)
    array([[ 70,  50,  60],
           [255,  80,  90]], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "red-channel", top, bottom, out, threads)

@overload
def green_channel(top: Input, bottom: Input, out: None = None, *,
                  threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def green_channel(top: Input, bottom: Input, out: Out, *,
                  threads: Optional[int] = None) -> Out:
    ...
@_documented
def green_channel(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Green-channel blend of top onto bottom. Each byte of the result is

        3 * t + b, clamped to 255, in the green value (index 1) of each
        RGB pixel only; the red and blue values of out keep what they
        held

    where t is top's byte and b bottom's byte at the same index.

    The arrays are packed RGB pixels: an array of more than one axis must
    have 3 as its last axis. A new array starts as a copy of bottom.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([[10, 20, 30], [200, 100, 50]], np.uint8)
    >>> bottom = np.array([[40, 50, 60], [70, 80, 90]], np.uint8)
    >>> byteblend.green_channel(top, bottom)
    array([[ 40, 110,  60],
           [ 70, 255,  90]], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "green-channel", top, bottom, out, threads)

@overload
def blue_channel(top: Input, bottom: Input, out: None = None, *,
                 threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def blue_channel(top: Input, bottom: Input, out: Out, *,
                 threads: Optional[int] = None) -> Out:
    ...
@_documented
def blue_channel(
        top: Input, bottom: Input, out: Optional[Out] = None, *,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Blue-channel blend of top onto bottom. Each byte of the result is

        3 * t + b, clamped to 255, in the blue value (index 2) of each
        RGB pixel only; the red and green values of out keep what they
        held

    where t is top's byte and b bottom's byte at the same index.

    The arrays are packed RGB pixels: an array of more than one axis must
    have 3 as its last axis. A new array starts as a copy of bottom.
{arguments}
    Example
    -------
    >>> import numpy as np, byteblend
    >>> top = np.array([[10, 20, 30], [200, 100, 50]], np.uint8)
    >>> bottom = np.array([[40, 50, 60], [70, 80, 90]], np.uint8)
    >>> byteblend.blue_channel(top, bottom)
    array([[ 40,  50, 150],
           [ 70,  80, 240]], dtype=uint8)
    """
    return _blend(  # type: ignore[no-any-return]
        "blue-channel", top, bottom, out, threads)
