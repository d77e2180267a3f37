#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times the tool's folder run against the same files blended one command at
a time, side by side in one run, and prints the ratio of the medians.

    folder_run.py path/to/byteblend [--files N] [--size WxH] [--repetitions R]

Inputs are noise PNG files (noise, so that encoding is real work) written
with the standard library into a scratch folder; each repetition times
`byteblend screen TOP --out-dir OUT BOTTOM...` and then a loop of
`byteblend screen TOP BOTTOM OUT/BOTTOM`, alternately, so that both meet the
same load on a shared machine.
"""
import argparse
import os
import statistics
import subprocess
import tempfile
import time
import zlib
import struct


def png(width, height, seed):
    rows = bytearray()
    state = seed
    for _ in range(height):
        rows.append(0)
        row = bytearray(width * 3)
        for i in range(0, len(row), 4):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            row[i:i + 4] = state.to_bytes(4, "little")[:len(row) - i]
        rows += row

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body)))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 1)) + chunk(b"IEND", b""))


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--files", type=int, default=16)
    parser.add_argument("--size", default="1024x768")
    parser.add_argument("--repetitions", type=int, default=5)
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    with tempfile.TemporaryDirectory() as folder:
        top = os.path.join(folder, "top.png")
        with open(top, "wb") as f:
            f.write(png(width, height, 1))
        bottoms = []
        for i in range(args.files):
            bottoms.append(os.path.join(folder, f"b{i}.png"))
            with open(bottoms[-1], "wb") as f:
                f.write(png(width, height, i + 2))
        out = os.path.join(folder, "out")
        os.mkdir(out)
        together, one_by_one = [], []
        for _ in range(args.repetitions):
            together.append(timed([args.tool, "screen", top, "--out-dir", out] +
                                  bottoms))
            start = time.perf_counter()
            for bottom in bottoms:
                subprocess.run([args.tool, "screen", top, bottom,
                                os.path.join(out, os.path.basename(bottom))],
                               check=True)
            one_by_one.append(time.perf_counter() - start)
    a, b = statistics.median(together), statistics.median(one_by_one)
    print(f"{args.files} files of {args.size} on {os.cpu_count()} cores, "
          f"medians of {args.repetitions}: folder run {a:.3f} s, one command "
          f"per file {b:.3f} s, ratio {b / a:.2f}")


if __name__ == "__main__":
    main()
