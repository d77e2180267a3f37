# SPDX-License-Identifier: MIT
"""byteblend from Python against the same kernels called from C and against
the blend packages a Python user installs today. A plain timing loop, not a
test; prints Markdown tables.

    PYTHONPATH=build/default/python/package \\
      build/venv/bin/python bench/python_bench.py build/default/src/libbyteblend.so.1

The layers (a mode with an opacity, through the layers' alpha) have a
section of their own, against Pillow's Image.alpha_composite and against
the float32 formulas a numpy user writes; `--only layers` runs it alone,
`--layers-json FILE` keeps its medians for bench/layers_report.py, and
`--layers-library PATH` names libbyteblend_layers.so.1 (by default the one
beside, or in layers/ beside, the library given first).

Every figure is the median of repeated calls, the contenders of one row
timed in turn within each repetition, so that the machine's noise falls on
all of them alike. "C" is the kernel called through ctypes with preallocated
buffers: ctypes adds about a microsecond a call, under 0.2% of a 1080p
blend. Conversions a user has to make for a peer (an RGB uint8 array into
float RGBA for blend-modes, into RGBA bytes for image-blender, into a Pillow
image) are timed on their own rows, not in the call.
"""
import argparse
import ctypes
import json
import pathlib
import statistics
import sys
import time
from importlib import metadata

import numpy as np

import byteblend

KERNELS = {
    "addition": "AdditionBlend", "subtraction": "SubtractionBlend",
    "multiplication": "MultiplicationBlend", "screen": "ScreenBlend",
    "overlay": "OverlayBlend", "lighten": "LightenBlend",
    "darken": "DarkenBlend", "color-dodge": "ColorDodgeBlend",
    "color-burn": "ColorBurnBlend", "opacity": "OpacityBlend",
    "red-channel": "RedChannelBlend", "green-channel": "GreenChannelBlend",
    "blue-channel": "BlueChannelBlend",
}


def median_times(contenders, repetitions, clock=time.perf_counter):
    """The median seconds of a call of each contender, timed in turn."""
    times = {name: [] for name in contenders}
    order = list(contenders.items())
    for repetition in range(repetitions):
        # Each goes first as often as last.
        for name, call in order if repetition % 2 else reversed(order):
            start = clock()
            call()
            times[name].append(clock() - start)
    return {name: statistics.median(seconds)
            for name, seconds in times.items()}


def per_call(call, calls, repetitions=9):
    """The median over repetitions of a loop's seconds a call."""
    samples = []
    for _ in range(repetitions):
        start = time.perf_counter()
        for _ in range(calls):
            call()
        samples.append((time.perf_counter() - start) / calls)
    return statistics.median(samples)


class Library:
    def __init__(self, path):
        self.library = ctypes.CDLL(path)

    def call(self, mode, top, bottom, out):
        kernel = getattr(self.library, KERNELS[mode])
        kernel.restype = None
        kernel.argtypes = [ctypes.c_int32] + [ctypes.c_void_p] * 3
        arguments = (top.size, top.ctypes.data, bottom.ctypes.data,
                     out.ctypes.data)
        return lambda: kernel(*arguments)


def peers_for(mode, top, bottom, float_peer=True):
    """Each peer's call for this mode on the image, with its input made
    beforehand, and the conversions timed apart."""
    import blend_modes
    import cv2
    import image_blender
    from PIL import Image, ImageChops

    calls, conversions = {}, {}
    chops = {"addition": ImageChops.add, "subtraction": ImageChops.subtract,
             "multiplication": ImageChops.multiply,
             "screen": ImageChops.screen, "overlay": ImageChops.overlay,
             "lighten": ImageChops.lighter, "darken": ImageChops.darker}
    if mode in chops:
        top_image, bottom_image = Image.fromarray(top), Image.fromarray(bottom)
        calls["Pillow"] = lambda: chops[mode](bottom_image, top_image)
        conversions["Pillow"] = lambda: (Image.fromarray(top),
                                         Image.fromarray(bottom))

    def rgba(array):
        if array.shape[-1] == 4:
            return array
        alpha = np.full(array.shape[:-1] + (1,), 255, np.uint8)
        return np.concatenate([array, alpha], axis=-1)

    floats = {"addition": blend_modes.addition,
              "subtraction": blend_modes.subtract,
              "multiplication": blend_modes.multiply,
              "screen": blend_modes.screen, "overlay": blend_modes.overlay,
              "lighten": blend_modes.lighten_only,
              "darken": blend_modes.darken_only,
              "color-dodge": blend_modes.dodge}
    if mode in floats and float_peer:
        top_float = rgba(top).astype(float)
        bottom_float = rgba(bottom).astype(float)
        calls["blend-modes"] = lambda: floats[mode](bottom_float, top_float,
                                                    1.0)
        conversions["blend-modes"] = lambda: (rgba(top).astype(float),
                                              rgba(bottom).astype(float))

    photoshop = {"subtraction": image_blender.subtract,
                 "multiplication": image_blender.multiply,
                 "screen": image_blender.screen,
                 "overlay": image_blender.overlay,
                 "lighten": image_blender.lighten,
                 "darken": image_blender.darken,
                 "color-dodge": image_blender.color_dodge,
                 "color-burn": image_blender.color_burn}
    if mode in photoshop:
        top_bytes, bottom_bytes = rgba(top).tobytes(), rgba(bottom).tobytes()
        calls["image-blender"] = lambda: photoshop[mode](bottom_bytes,
                                                         top_bytes)
        conversions["image-blender"] = lambda: (rgba(top).tobytes(),
                                                rgba(bottom).tobytes())

    out = np.empty_like(top)
    opencv = {"addition": lambda: cv2.add(top, bottom, out),
              "subtraction": lambda: cv2.subtract(top, bottom, out),
              "lighten": lambda: cv2.max(top, bottom, out),
              "darken": lambda: cv2.min(top, bottom, out),
              "multiplication": lambda: cv2.multiply(top, bottom, out,
                                                     scale=1 / 255),
              "opacity": lambda: cv2.addWeighted(top, 0.5, bottom, 0.5, 0,
                                                 out)}
    if mode in opencv:
        calls["OpenCV"] = opencv[mode]
    return calls, conversions


PEERS = ["Pillow", "blend-modes", "image-blender", "OpenCV"]


def modes_for(shape):
    """The channel modes blend packed RGB only."""
    return [mode for mode in byteblend.MODES
            if shape[-1] == 3 or not mode.endswith("-channel")]


def images(shape, seed):
    """Two random images and an out array, its pages already touched."""
    rng = np.random.default_rng(seed)
    return (rng.integers(0, 256, shape, np.uint8),
            rng.integers(0, 256, shape, np.uint8), np.zeros(shape, np.uint8))


def image_table(library, shape, repetitions, float_peer=True):
    top, bottom, out = images(shape, 1)
    print(f"\n### {shape[1]}x{shape[0]}, {shape[2]} channels "
          f"({top.nbytes / 2**20:.1f} MiB), threads=1, ms\n")
    print("| mode | C | byteblend | Python/C | "
          + " | ".join(f"{peer} (× byteblend)" for peer in PEERS) + " |")
    print("|---" * (4 + len(PEERS)) + "|")
    conversion_times = {}
    for mode in modes_for(shape):
        peers, conversions = peers_for(mode, top, bottom, float_peer)
        # byteblend and each contender that takes about a millisecond timed
        # in pairs, side by side, many times (three at once would leave
        # byteblend always in the middle, after the others had warmed the
        # caches); the slow peers as often as a second or two allows.
        def ours():
            byteblend.blend(mode, top, bottom, out, threads=1)
        pair = median_times({"C": library.call(mode, top, bottom, out),
                             "byteblend": ours}, repetitions)
        times, ratios = dict(pair), {}
        if "OpenCV" in peers:
            pair = median_times({"byteblend": ours,
                                 "OpenCV": peers.pop("OpenCV")}, repetitions)
            times["OpenCV"] = pair["OpenCV"]
            ratios["OpenCV"] = pair["OpenCV"] / pair["byteblend"]
        for peer, call in peers.items():
            start = time.perf_counter()
            call()
            once = time.perf_counter() - start
            count = min(repetitions, max(3, int(2.0 / once)))
            times.update(median_times({peer: call}, count))
            ratios[peer] = times[peer] / times["byteblend"]
        for peer, convert in conversions.items():
            if peer not in conversion_times:
                conversion_times[peer] = median_times({peer: convert},
                                                      5)[peer]
        cells = [f"{times['C'] * 1e3:.3f}", f"{times['byteblend'] * 1e3:.3f}",
                 f"{times['byteblend'] / times['C']:.3f}"]
        for peer in PEERS:
            cells.append(f"{times[peer] * 1e3:.2f} ({ratios[peer]:.1f}×)"
                         if peer in times else "—")
        print(f"| {mode} | " + " | ".join(cells) + " |")
    print("\nConversions of the two arrays into each peer's input, ms: "
          + ", ".join(f"{peer} {seconds * 1e3:.2f}"
                      for peer, seconds in conversion_times.items()))


def thread_table(shape, repetitions):
    top, bottom, out = images(shape, 2)
    print(f"\n### {shape[1]}x{shape[0]}, {shape[2]} channels: threads, ms\n")
    print("| mode | threads=1 | threads=2 | threads=None | 1 / 2 |")
    print("|---|---|---|---|---|")
    for mode in modes_for(shape):
        times = median_times({
            count: (lambda count=count: byteblend.blend(
                mode, top, bottom, out, threads=count))
            for count in (1, 2, None)}, repetitions)
        print(f"| {mode} | {times[1] * 1e3:.3f} | {times[2] * 1e3:.3f} | "
              f"{times[None] * 1e3:.3f} | {times[1] / times[2]:.2f} |")


def view_table(repetitions):
    """Views that are not one run of bytes against the contiguous arrays of
    the same shape: 4K RGB, each view of all three arrays."""
    shape = (2160, 3840, 3)
    top, bottom, out = images(shape, 3)
    wide = [np.concatenate([array, array], axis=1)
            for array in (top, bottom, out)]
    views = {
        "columns reversed, `a[:, ::-1]`": [a[:, ::-1] for a in (top, bottom,
                                                                 out)],
        "crop of a wider image": [a[:, 1000:1000 + shape[1]] for a in wide],
        "every other column": [a[:, ::2] for a in wide],
        "only top reversed": [top[:, ::-1], bottom, out],
    }
    print("\n### 4K RGB views (3840x2160x3), ms: a view / contiguous\n")
    print("| mode | view | contiguous, threads=1 | view, threads=1 | "
          "ratio | contiguous, threads=None | view, threads=None | ratio |")
    print("|---" * 8 + "|")
    for mode in ("screen", "color-dodge"):
        for name, (t, b, o) in views.items():
            calls = {
                (kind, threads): (
                    lambda arrays=arrays, threads=threads: byteblend.blend(
                        mode, *arrays, threads=threads))
                for kind, arrays in (("contiguous", (top, bottom, out)),
                                     ("view", (t, b, o)))
                for threads in (1, None)}
            times = median_times(calls, repetitions)
            cells = []
            for threads in (1, None):
                plain = times[("contiguous", threads)]
                view = times[("view", threads)]
                cells += [f"{plain * 1e3:.2f}", f"{view * 1e3:.2f}",
                          f"{view / plain:.2f}"]
            print(f"| {mode} | {name} | " + " | ".join(cells) + " |")


def small_calls(library):
    top = np.arange(64, dtype=np.uint8)
    bottom = top[::-1].copy()
    out = np.empty_like(top)
    direct = library.call("screen", top, bottom, out)
    rows = {
        "byteblend.screen(top, bottom, out)":
            lambda: byteblend.screen(top, bottom, out),
        "byteblend.screen(top, bottom)":
            lambda: byteblend.screen(top, bottom),
        "byteblend.blend('screen', top, bottom, out)":
            lambda: byteblend.blend("screen", top, bottom, out),
        "the C kernel through ctypes": direct,
    }
    print("\n### 64 bytes a call, µs\n")
    print("| call | µs |")
    print("|---|---|")
    for name, call in rows.items():
        print(f"| `{name}` | {per_call(call, 20000) * 1e6:.3f} |")


LAYER_CODES = {mode: code for code, mode in enumerate(
    ("addition", "subtraction", "multiplication", "screen", "red-channel",
     "green-channel", "blue-channel", "opacity", "overlay", "lighten",
     "darken", "color-dodge", "color-burn", "normal"))}


class Layers:
    """byteblend's composite on one thread: the package's own
    byteblend.composite where it has one, else the layers' C function
    byteblend_composite through ctypes (the same bytes; the call costs
    about a microsecond more)."""

    def __init__(self, path):
        self.library = None
        if hasattr(byteblend, "composite"):
            return
        self.library = ctypes.CDLL(str(path))
        function = self.library.byteblend_composite
        function.restype = ctypes.c_int
        function.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int32,
                             ctypes.c_void_p, ctypes.c_int, ctypes.c_void_p,
                             ctypes.c_int, ctypes.c_void_p, ctypes.c_uint8]

    def source(self):
        return ("byteblend.composite" if self.library is None
                else "byteblend_composite through ctypes")

    def call(self, mode, top, bottom, out, opacity=1.0, operator="atop"):
        """A call of composite(mode, top, bottom, out, ...) to time."""
        if self.library is None:
            return lambda: byteblend.composite(
                mode, top, bottom, out, opacity=opacity, operator=operator,
                threads=1)
        arguments = (LAYER_CODES[mode], ("atop", "over").index(operator),
                     top.shape[0] * top.shape[1], top.ctypes.data,
                     top.shape[2], bottom.ctypes.data, bottom.shape[2],
                     out.ctypes.data, int(opacity * 255 + 0.5))
        function = self.library.byteblend_composite

        def composite():
            if function(*arguments) != 0:
                raise RuntimeError("byteblend_composite failed")
        return composite


def logo_alpha(shape):
    """A logo's alpha: rings on a 240-pixel grid, mostly 0 or 255, with one
    pixel of antialiased edge (as bench/layers_vs_pixman.cpp)."""
    y, x = np.indices(shape[:2], dtype=np.float32)
    distance = np.abs(np.hypot(x % 240 - 119.5, y % 240 - 119.5) - 70)
    return np.rint(np.clip(30 - distance, 0, 1) * 255).astype(np.uint8)


def numpy_mix(mode, opacity):
    """What a numpy user writes for a mode with an opacity on RGB: the mode
    and the opacity mix in float32."""
    blend = {"multiplication": lambda t, b: t * b,
             "screen": lambda t, b: t + b - t * b}[mode]

    def mix(top, bottom):
        t = top.astype(np.float32) / 255
        b = bottom.astype(np.float32) / 255
        mixed = b + np.float32(opacity) * (blend(t, b) - b)
        return np.rint(mixed * 255).astype(np.uint8)
    return mix


def numpy_over(mode):
    """What a numpy user writes for source-over with a blend mode on RGBA,
    in float32, as the W3C compositing formulas give it: the colour is
    (as (1 - ab) cs + as ab B(cs, cb) + (1 - as) ab cb) / ao with
    ao = as + ab (1 - as), unpremultiplied in and out."""
    blend = {"normal": lambda t, b: t,
             "multiplication": lambda t, b: t * b}[mode]

    def over(top, bottom):
        t = top.astype(np.float32) / 255
        b = bottom.astype(np.float32) / 255
        a_top, a_bottom = t[..., 3:], b[..., 3:]
        colour_top, colour_bottom = t[..., :3], b[..., :3]
        alpha = a_top + a_bottom * (1 - a_top)
        colour = (a_top * (1 - a_bottom) * colour_top
                  + a_top * a_bottom * blend(colour_top, colour_bottom)
                  + (1 - a_top) * a_bottom * colour_bottom)
        with np.errstate(divide="ignore", invalid="ignore"):
            colour = np.where(alpha > 0, colour / alpha, 0)
        return np.rint(np.concatenate([colour, alpha], axis=-1)
                       * 255).astype(np.uint8)
    return over


# The cases of the layers' goals: (name, mode, operator, opacity, channels,
# the top's alpha, peer, goal as peer time / byteblend time).
LAYER_CASES = [
    ("normal over, random alpha", "normal", "over", 1.0, 4, "random",
     "Pillow alpha_composite", 10),
    ("normal over, logo alpha", "normal", "over", 1.0, 4, "logo",
     "Pillow alpha_composite", 10),
    ("normal over, random alpha", "normal", "over", 1.0, 4, "random",
     "numpy float32", 50),
    ("multiplication over, random alpha", "multiplication", "over", 1.0, 4,
     "random", "numpy float32", 50),
    ("multiplication atop RGB, opacity 0.6", "multiplication", "atop", 0.6,
     3, "random", "numpy float32", 50),
    ("screen atop RGB, opacity 0.6", "screen", "atop", 0.6, 3, "random",
     "numpy float32", 50),
]


def layer_peer(peer, mode, operator, opacity, top, bottom):
    """The peer's call, on input made beforehand, and a function of no
    arguments that gives the peer's result as an array."""
    from PIL import Image

    if peer.startswith("Pillow"):
        top_image = Image.fromarray(top, "RGBA")
        bottom_image = Image.fromarray(bottom, "RGBA")

        def call():
            return Image.alpha_composite(bottom_image, top_image)
        return call, lambda: np.asarray(call())
    formula = (numpy_over(mode) if operator == "over"
               else numpy_mix(mode, opacity))

    def call():
        return formula(top, bottom)
    return call, call


def layers_table(layers, repetitions, shape=(1080, 1920)):
    """byteblend's composite on 1080p against each case's peer, timed side
    by side; returns the rows for --layers-json."""
    rng = np.random.default_rng(4)
    print(f"\n### Layers: {shape[1]}x{shape[0]}, threads=1, ms "
          f"({layers.source()})\n")
    print("| case | byteblend | peer | peer time | peer / byteblend | goal | "
          "largest difference |")
    print("|---|---|---|---|---|---|---|")
    rows = []
    for name, mode, operator, opacity, channels, alpha, peer, goal in (
            LAYER_CASES):
        top = rng.integers(0, 256, shape + (channels,), np.uint8)
        bottom = rng.integers(0, 256, shape + (channels,), np.uint8)
        if alpha == "logo":
            top[..., 3] = logo_alpha(shape)
        out = np.zeros_like(bottom)
        ours = layers.call(mode, top, bottom, out, opacity, operator)
        theirs, result = layer_peer(peer, mode, operator, opacity, top,
                                    bottom)
        start = time.thread_time()
        theirs()
        once = time.thread_time() - start
        # As many pairs as about four seconds of the peer allow.
        count = min(repetitions, max(5, int(4.0 / once)))
        times = median_times({"byteblend": ours, "peer": theirs}, count,
                             time.thread_time)
        ours()
        difference = np.abs(out.astype(np.int16) - result().astype(np.int16))
        if channels == 4:
            # The colour of a pixel with no alpha left is Pillow's bottom's,
            # byteblend's 0.
            difference = difference[out[..., 3] > 0]
        difference = int(difference.max())
        ratio = times["peer"] / times["byteblend"]
        rows.append({"case": name, "peer": peer, "goal": goal,
                     "byteblend_seconds": times["byteblend"],
                     "peer_seconds": times["peer"], "ratio": ratio,
                     "pairs": count, "difference": difference})
        print(f"| {name} | {times['byteblend'] * 1e3:.2f} | {peer} | "
              f"{times['peer'] * 1e3:.2f} | {ratio:.1f}× | ≥ {goal}× "
              f"{'met' if ratio >= goal else 'not met'} | {difference} |")
    print("\nThe calling thread's CPU time (every contender runs on that "
          "one thread; the machine may be shared), medians of pairs timed "
          "side by side, each first as often as second. The largest "
          "difference of a byte between the two results, over the pixels "
          "whose alpha is not 0. Pillow's images are made beforehand.")
    return rows


def default_layers_library(library):
    beside = pathlib.Path(library).parent
    for candidate in (beside / "libbyteblend_layers.so.1",
                      beside / "layers" / "libbyteblend_layers.so.1"):
        if candidate.exists():
            return candidate
    return "libbyteblend_layers.so.1"


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0])
    parser.add_argument("library", nargs="?", default="libbyteblend.so.1")
    parser.add_argument("repetitions", nargs="?", type=int, default=101)
    parser.add_argument("--only", choices=("all", "layers"), default="all")
    parser.add_argument("--layers-library")
    parser.add_argument("--layers-json")
    args = parser.parse_args()
    repetitions = args.repetitions
    versions = ", ".join(
        f"{name} {metadata.version(name)}" for name in
        ("numpy", "Pillow", "blend-modes", "image-blender",
         "opencv-python-headless"))
    print(f"byteblend {byteblend.__version__}; {versions}; "
          f"Python {sys.version.split()[0]}")
    try:
        layers = Layers(args.layers_library
                        or default_layers_library(args.library))
    except OSError as error:
        # A wheel from before composite() carries no layers library.
        layers = None
        print(f"\nLayers left out: {error}")
    rows = layers_table(layers, repetitions) if layers else []
    if args.layers_json:
        pathlib.Path(args.layers_json).write_text(json.dumps(
            {"source": layers.source() if layers else None, "rows": rows},
            indent=1) + "\n")
    if args.only == "layers":
        return
    library = Library(args.library)
    small_calls(library)
    image_table(library, (1080, 1920, 3), repetitions)
    # blend-modes takes seconds a call at 4K: left to the 1080p table.
    image_table(library, (2160, 3840, 4), repetitions, float_peer=False)
    thread_table((2160, 3840, 4), repetitions)
    view_table(repetitions)


if __name__ == "__main__":
    main()
