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
the other twelve functions take it from their own name. Each takes an
opacity too. composite(mode, top, bottom) lays RGB or RGBA pixels onto RGB
or RGBA pixels through the top's alpha, in the modes and "normal" (by
libbyteblend_layers, carried beside libbyteblend). help() of each gives its
formula, its arguments, what it raises and an example.

Arrays need not be contiguous: views such as ``image[:, ::2]`` or
``image[::-1]`` are blended row by row, through a packed copy of each row
where its bytes are not one run, on the threads a contiguous array would
use; ``out`` is written through its own strides either way.
"""
from __future__ import annotations

import textwrap
from typing import Any, Callable, Literal, Mapping, Optional, Protocol, Tuple
from typing import TypeVar, Union, cast, overload

import numpy as np
from numpy.typing import NDArray

from . import _native
from ._version import __version__

#: The thirteen mode names, as the byteblend tool and C++ interface spell
#: them, in the library's order; blend() takes them in any case, with '_'
#: for '-' too.
MODES: Tuple[str, ...] = _native.modes

#: composite()'s modes: MODES, then "normal" (the top itself, mixed in by
#: the opacity and the alphas).
COMPOSITE_MODES: Tuple[str, ...] = _native.composite_modes

#: A mode's name as a type checker sees it: MODES, and the names of the
#: functions (color_dodge). blend() also takes them in any case. A type
#: checker reads no value, so the names are spelled out here.
Mode = Literal[
    "addition", "subtraction", "multiplication", "screen", "red-channel",
    "green-channel", "blue-channel", "opacity", "overlay", "lighten",
    "darken", "color-dodge", "color-burn",
    "red_channel", "green_channel", "blue_channel", "color_dodge",
    "color_burn",
]

#: composite()'s mode: a Mode, or "normal".
CompositeMode = Union[Mode, Literal["normal"]]

#: How composite() combines the top's alpha with the bottom's.
Operator = Literal["atop", "over"]

__all__ = [
    "MODES", "COMPOSITE_MODES", "Mode", "CompositeMode", "Operator",
    "Input", "PillowImage", "blend", "composite",
    *(mode.replace("-", "_") for mode in MODES), "__version__",
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
_composite = _native.composite

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
    opacity : float, keyword only
        How much of the blend shows, from 0 (bottom as it is) to 1 (the
        blend itself; the default), as the byte a = round(opacity * 255),
        halves up: each byte written is round((a * r + (255 - a) * b) / 255)
        for the mode's byte r (by libbyteblend_layers, the same as
        composite() of RGB pixels). 1 runs the plain kernels as ever.
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
        than as the very same array, an opacity outside 0..1 or NaN, and,
        for the channel modes, arrays whose last axis is not 3.
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
          opacity: float = 1.0,
          threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def blend(mode: Mode, top: Input, bottom: Input, out: Out, *,
          opacity: float = 1.0, threads: Optional[int] = None) -> Out:
    ...
@_documented
def blend(
        mode: Mode, top: Input, bottom: Input, out: Optional[Out] = None, *,
        opacity: float = 1.0,
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Blends top onto bottom in the named mode: where t is top's byte and b
    bottom's byte at the same index, each byte of the result is

        addition        t + b, clamped to 255
        subtraction     t - b, clamped to 0
        multiplication  t * b / 255, rounded to nearest
        screen          255 * (1 - (1 - t/255) * (1 - b/255)), rounded
        red-channel     3t + b, clamped to 255, in the red value of each
                        RGB pixel only (green-channel, blue-channel: the
                        green, the blue value); out's other two values
                        keep what they held, and a new array starts as a
                        copy of bottom
        opacity         (t + b) / 2, rounded down
        overlay         2 * t * b / 255 where b <= 127,
                        255 * (1 - 2 * (1 - t/255) * (1 - b/255)) where
                        b >= 128, rounded to nearest
        lighten         the larger of t and b
        darken          the smaller of t and b
        color-dodge     255 * b / (255 - t), rounded, clamped to 255;
                        255 where t = 255
        color-burn      255 - 255 * (255 - b) / t, rounded, clamped to 0;
                        0 where t = 0

    The channel modes take packed RGB pixels: arrays of more than one axis
    must have 3 as their last axis.

    mode : str
        One of MODES, in any case, with '_' or '-' between words, so each
        function's name (color_dodge) is a mode's name too. "normal" is a
        mode of composite() only.
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
        mode, top, bottom, out, threads, opacity)


@overload
def composite(mode: CompositeMode, top: Input, bottom: Input,
              out: None = None, *, opacity: float = 1.0,
              operator: Operator = "atop",
              threads: Optional[int] = None) -> NDArray[np.uint8]:
    ...
@overload
def composite(mode: CompositeMode, top: Input, bottom: Input, out: Out, *,
              opacity: float = 1.0, operator: Operator = "atop",
              threads: Optional[int] = None) -> Out:
    ...
def composite(
        mode: CompositeMode, top: Input, bottom: Input,
        out: Optional[Out] = None, *, opacity: float = 1.0,
        operator: Operator = "atop",
        threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
    """Composites top's pixels onto bottom's through top's alpha: the mode's
    colour, mixed in by the opacity byte a = round(opacity * 255) (halves
    up) and by top's alpha At, as P = At * a. With t, b and Ab top's and
    bottom's colour bytes and bottom's alpha, r the mode's byte for (t, b)
    as blend() gives it (normal: t; a channel mode: b in the other two
    colours), and round(n / d) to nearest, halves up:

        "atop"  colour round((P r + (65025 - P) b) / 65025), alpha Ab: the
                top paints only where the bottom is (the default)
        "over"  Y = 255 P + Ab (65025 - P),
                X = P (255 - Ab) t + P Ab r + (65025 - P) Ab b,
                colour round(X / Y), alpha round(Y / 65025), all 0 where
                Y = 0: source-over, with the mode as its blend function

    Pixels without alpha (RGB) have alpha 255; onto RGB the two operators
    give the same bytes.

    mode : str
        One of COMPOSITE_MODES (MODES and "normal"), in any case, with '_'
        or '-' between words.
    top, bottom : uint8 arrays, or what numpy.asarray makes them of
        Arrays of pixels whose last axis holds 3 (RGB) or 4 (RGBA) values,
        each on its own: an RGBA logo onto an RGB photo, or the reverse.
        The other axes (height and width, any number of them) are the
        same for both.
    out : None, or a writable uint8 array
        None for a new array of bottom's shape, else an array of bottom's
        shape. It may be bottom itself (or top where top has bottom's
        channels), but may not overlap them any other way;
        bottom[y:y+h, x:x+w] composites top onto that part of bottom.
    opacity : float, keyword only
        From 0 (bottom as it is) to 1 (the default).
    operator : "atop" or "over", keyword only
    threads : None or int, keyword only
        As for blend().

    Returns
    -------
    out, or the new uint8 array of bottom's shape: its colour as the
    operator says, its alpha (where bottom has alpha) Ab for "atop" and
    round(Y / 65025) for "over".

    Raises
    ------
    TypeError
        As blend() does for items other than uint8, and for an opacity
        that is no number.
    ValueError
        For an unknown mode or operator, a last axis other than 3 or 4,
        pixel shapes that differ, an out of another shape than bottom's,
        a read-only out, an out that overlaps top or bottom other than as
        that very array, and an opacity outside 0..1 or NaN.
    Nothing is written when a call raises.

    Example
    -------
    >>> import numpy as np, byteblend
    >>> logo = np.array([[[255, 0, 0, 255], [255, 0, 0, 0]]], np.uint8)
    >>> photo = np.array([[[0, 0, 255], [0, 0, 255]]], np.uint8)
    >>> byteblend.composite("normal", logo, photo, opacity=0.7)
    array([[[179,   0,  76],
            [  0,   0, 255]]], dtype=uint8)
    """
    return _composite(  # type: ignore[no-any-return]
        mode, top, bottom, out, operator, opacity, threads)


class _ModeFunction(Protocol):
    """A function of one mode, as a type checker sees it: blend() with the
    mode taken from the function's name."""

    @overload
    def __call__(self, top: Input, bottom: Input, out: None = None, *,
                 opacity: float = 1.0,
                 threads: Optional[int] = None) -> NDArray[np.uint8]:
        ...

    @overload
    def __call__(self, top: Input, bottom: Input, out: Out, *,
                 opacity: float = 1.0,
                 threads: Optional[int] = None) -> Out:
        ...


_COLOURS = ("red", "green", "blue")


def _channel(colour: str) -> str:
    """The formula of a channel mode."""
    others = " and ".join(c for c in _COLOURS if c != colour)
    return (f"3 * t + b, clamped to 255, in the {colour} value (index "
            f"{_COLOURS.index(colour)}) of each RGB pixel only; the {others} "
            "values of out keep what they held")


# What each function's help() says of its mode: the formula ('\n' where a
# line must break), and the example's result, which the doctests check
# against the library.
_ABOUT = {
    "addition": ("t + b, clamped to 255",
                 "[  0, 192, 255, 255, 255, 250]"),
    "subtraction": ("t - b, clamped to 0", "[  0,   0,   0, 128,   0,   0]"),
    "multiplication": ("t * b / 255, rounded to nearest",
                       "[  0,  32,  64,  48, 255,  26]"),
    "screen": ("255 * (1 - (1 - t/255) * (1 - b/255)), rounded to nearest",
               "[  0, 160, 192, 208, 255, 224]"),
    "red-channel": (_channel("red"),
                    "[[ 70,  50,  60],\n       [255,  80,  90]]"),
    "green-channel": (_channel("green"),
                      "[[ 40, 110,  60],\n       [ 70, 255,  90]]"),
    "blue-channel": (_channel("blue"),
                     "[[ 40,  50, 150],\n       [ 70,  80, 240]]"),
    "opacity": ("(t + b) / 2, rounded down (a half-and-half mix)",
                "[  0,  96, 128, 128, 255, 125]"),
    "overlay": ("2 * t * b / 255 (multiply) where b <= 127;\n"
                "255 * (1 - 2 * (1 - t/255) * (1 - b/255)) (screen) where "
                "b >= 128;\nrounded to nearest",
                "[  0,  65, 128,  96, 255, 193]"),
    "lighten": ("the larger of t and b", "[  0, 128, 128, 192, 255, 220]"),
    "darken": ("the smaller of t and b", "[  0,  64, 128,  64, 255,  30]"),
    "color-dodge": ("255 * b / (255 - t), rounded to nearest, clamped to "
                    "255;\n255 where t = 255",
                    "[  0, 171, 255, 255, 255, 249]"),
    "color-burn": ("255 - 255 * (255 - b) / t, rounded to nearest, clamped "
                   "to 0;\n0 where t = 0", "[  0,   0,   2,   1, 255,   0]"),
}

_EXAMPLE = """
    >>> top = np.array([0, 64, 128, 192, 255, 30], np.uint8)
    >>> bottom = np.array([0, 128, 128, 64, 255, 220], np.uint8)"""
_PIXELS_EXAMPLE = """
    >>> top = np.array([[10, 20, 30], [200, 100, 50]], np.uint8)
    >>> bottom = np.array([[40, 50, 60], [70, 80, 90]], np.uint8)"""
_PIXELS_NOTE = """
    The arrays are packed RGB pixels: an array of more than one axis must
    have 3 as its last axis. A new array starts as a copy of bottom.
"""


def _help(mode: str, name: str) -> str:
    """The docstring of mode's function, whose name is name."""
    formula, result = _ABOUT[mode]
    pixels = mode.endswith("-channel")
    lines = [line for part in formula.split("\n")
             for line in textwrap.wrap(part, 70)]
    title = f"{mode.capitalize()} blend of top onto bottom."
    indented_formula = "\n        ".join(lines)
    indented_result = result.replace("\n", "\n    ")
    return f"""{title} Each byte of the result is

        {indented_formula}

    where t is top's byte and b bottom's byte at the same index.
{_PIXELS_NOTE if pixels else ""}{_ARGUMENTS}
    Example
    -------
    >>> import numpy as np, byteblend{_PIXELS_EXAMPLE if pixels else _EXAMPLE}
    >>> byteblend.{name}(top, bottom)
    array({indented_result}, dtype=uint8)
    """


def _mode_function(mode: str) -> _ModeFunction:
    """The function that blends in mode, named after it (color_dodge)."""
    name = mode.replace("-", "_")

    def function(
            top: Input, bottom: Input, out: Optional[Out] = None, *,
            opacity: float = 1.0,
            threads: Optional[int] = None) -> Union[NDArray[np.uint8], Out]:
        return _blend(  # type: ignore[no-any-return]
            mode, top, bottom, out, threads, opacity)

    function.__name__ = function.__qualname__ = name
    function.__doc__ = _help(mode, name)
    return cast(_ModeFunction, function)


# One function for each of MODES, in its order; a type checker needs each
# by name. test_blend.py checks that they are MODES.
addition = _mode_function("addition")
subtraction = _mode_function("subtraction")
multiplication = _mode_function("multiplication")
screen = _mode_function("screen")
red_channel = _mode_function("red-channel")
green_channel = _mode_function("green-channel")
blue_channel = _mode_function("blue-channel")
opacity = _mode_function("opacity")
overlay = _mode_function("overlay")
lighten = _mode_function("lighten")
darken = _mode_function("darken")
color_dodge = _mode_function("color-dodge")
color_burn = _mode_function("color-burn")
