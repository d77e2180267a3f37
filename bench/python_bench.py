# SPDX-License-Identifier: MIT
"""byteblend from Python against the same kernels called from C and against
the blend packages a Python user installs today. A plain timing loop, not a
test; prints Markdown tables.

    PYTHONPATH=build/default/python/package \\
      build/venv/bin/python bench/python_bench.py build/default/src/libbyteblend.so.1

Every figure is the median of repeated calls, the contenders of one row
timed in turn within each repetition, so that the machine's noise falls on
all of them alike. "C" is the kernel called through ctypes with preallocated
buffers: ctypes adds about a microsecond a call, under 0.2% of a 1080p
blend. Conversions a user has to make for a peer (an RGB uint8 array into
float RGBA for blend-modes, into RGBA bytes for image-blender, into a Pillow
image) are timed on their own rows, not in the call.
"""
import ctypes
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


def median_times(contenders, repetitions):
    """The median seconds of a call of each contender, timed in turn."""
    times = {name: [] for name in contenders}
    order = list(contenders.items())
    for repetition in range(repetitions):
        # Each goes first as often as last.
        for name, call in order if repetition % 2 else reversed(order):
            start = time.perf_counter()
            call()
            times[name].append(time.perf_counter() - start)
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


def main():
    library = Library(sys.argv[1] if len(sys.argv) > 1
                      else "libbyteblend.so.1")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 101
    versions = ", ".join(
        f"{name} {metadata.version(name)}" for name in
        ("numpy", "Pillow", "blend-modes", "image-blender",
         "opencv-python-headless"))
    print(f"byteblend {byteblend.__version__}; {versions}; "
          f"Python {sys.version.split()[0]}")
    small_calls(library)
    image_table(library, (1080, 1920, 3), repetitions)
    # blend-modes takes seconds a call at 4K: left to the 1080p table.
    image_table(library, (2160, 3840, 4), repetitions, float_peer=False)
    thread_table((2160, 3840, 4), repetitions)
    view_table(repetitions)


if __name__ == "__main__":
    main()
