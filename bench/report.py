#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs byteblend_bench and prints one table of ratios, and draws a chart.

Every kernel, at each size, is set against the ordinary-store and the
streaming-store bounds of its own vector width (loops of two vector loads and
one vector store, measured in the same run) and, where OpenCV was found, its
single-threaded peer. The exported kernels run on one thread and, through
byteblend::blend with the default Options::threads 0, on as many threads as
the per-mode thresholds give; the "default" column is the second against
the first. A second table sets the default against one thread for every
mode and size, from byteblend::blend with threads 0 and with 1 called in
alternation (default_vs_one/, the median of each pair's ratio), beside the
machine's own two-core copy bandwidth (the streaming bound on every core
against one, at 64 MiB), and prints the figures behind
byteblend::split_costs: each kernel's one-thread rate, the pool's wake-up,
and the overhead of a split call (a 4 MiB dodge on two threads against its
two pieces back to back on one). The SSE2 and AVX2 builds are set against
the bounds of their own widths. The figures are medians of several
repetitions.

    report.py path/to/byteblend_bench [--repetitions N] [--scalar]
              [--chart throughput.svg]

The SSE2 and AVX2 builds (and, with --scalar, the plain scalar one) run at
the smallest and the largest size only.
--chart draws GB/s against size per kernel, with the bounds and the OpenCV
peer beside it (needs matplotlib).
"""
import argparse
import json
import re
import subprocess
import sys

PEERS = {
    "AdditionBlend": "opencv/add",
    "SubtractionBlend": "opencv/subtract",
    "LightenBlend": "opencv/max",
    "DarkenBlend": "opencv/min",
    "MultiplicationBlend": "opencv/multiply",
    "OpacityBlend": "opencv/addWeighted",
}
SIZES = {16384: "16 KiB", 131072: "128 KiB", 1048576: "1 MiB",
         6220800: "1080p", 8388608: "8 MiB", 67108864: "64 MiB"}
# Bound by their arithmetic rather than by memory (byteblend::split_costs).
COMPUTE_BOUND = ("OverlayBlend", "ColorDodgeBlend", "ColorBurnBlend")
WIDTHS = ("avx512", "avx2", "sse2")
# The library's order, for the table and the chart.
KERNELS = ("AdditionBlend", "SubtractionBlend", "MultiplicationBlend",
           "ScreenBlend", "RedChannelBlend", "GreenChannelBlend",
           "BlueChannelBlend", "OpacityBlend", "OverlayBlend", "LightenBlend",
           "DarkenBlend", "ColorDodgeBlend", "ColorBurnBlend")


def median_rates(bench, repetitions, pattern):
    output = subprocess.run(
        [bench, "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true",
         # Repetitions of all benchmarks in random order, so that a spell of
         # load on the machine (or on its memory) falls on all of them alike.
         "--benchmark_enable_random_interleaving=true",
         "--benchmark_min_time=0.05",
         f"--benchmark_filter={pattern}"],
        check=True, capture_output=True, text=True).stdout
    rates = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        # Wall-clock benchmarks end in /real_time or /manual_time.
        run = entry["run_name"].removesuffix("/real_time").removesuffix(
            "/manual_time")
        # A benchmark with a fixed count carries it in its name.
        run = re.sub(r"/iterations:[0-9]+$", "", run)
        if run.startswith(("pool_wake/", "pool_spin/")):
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
            rates[("time", run)] = (entry["real_time"]
                                    * scale[entry["time_unit"]])
            continue
        name, size = run.rsplit("/", 1)
        if name.startswith("default_vs_one/"):
            rates[("speedup", name.removeprefix("default_vs_one/"),
                   int(size))] = entry["default_speedup"]
            continue
        rates[(name, int(size))] = entry["bytes_per_second"]
    return rates


def widest(rates):
    for width in WIDTHS:
        if (f"bound/{width}", 16384) in rates:
            return width
    return None


def print_table(rates, rows):
    top = widest(rates)
    print(f"{'kernel':<32}{'size':>8}{'GB/s':>7}{'/bound':>8}{'/stream':>8}"
          f"{'/peer':>7}{'default':>9}")
    for size, label in SIZES.items():
        for width in WIDTHS:
            for bound in (f"bound/{width}", f"streaming_bound/{width}"):
                rate = rates.get((bound, size))
                if rate is not None:
                    print(f"{bound:<32}{label:>8}{rate / 1e9:>7.1f}")
        for row in rows:
            rate = rates.get((row, size))
            if rate is None:
                continue
            prefix, _, kernel = row.rpartition("/")
            width = prefix if prefix in WIDTHS else top
            bound = rates.get((f"bound/{width}", size))
            stream = rates.get((f"streaming_bound/{width}", size))
            peer = rates.get((PEERS.get(kernel, ""), size))
            single = rates.get((kernel, size)) if prefix == "default" else None
            line = f"{row:<32}{label:>8}{rate / 1e9:>7.1f}"
            for reference in (bound, stream, peer, single):
                line += f"{rate / reference:>8.2f}" if reference else f"{'':>8}"
            print(line.rstrip())
        print()


def print_threads(rates, kernels):
    """Default threads against one, and the split's costs."""
    top = widest(rates)
    largest = max(SIZES)
    copy = None
    one = rates.get((f"streaming_bound/{top}", largest))
    every = rates.get((f"cores_bound/streaming_bound/{top}", largest))
    if one and every:
        copy = every / one
        print(f"two-core copy bandwidth (streaming bound, {SIZES[largest]}): "
              f"{copy:.2f}x one core")
    print("default threads / one thread (>= 0.97 everywhere; >= 1.7 for "
          "overlay, dodge, burn from 1 MiB; memory-bound at 64 MiB >= "
          f"min(1.3, {copy or 0:.2f}))")
    print(f"{'kernel':<22}" + "".join(f"{label:>9}" for label in
                                      SIZES.values()))
    for kernel in kernels:
        line = f"{kernel:<22}"
        for size in SIZES:
            ratio = rates.get(("speedup", kernel, size))
            if ratio is None:
                line += f"{'':>9}"
                continue
            goal = 0.97
            if kernel in COMPUTE_BOUND and size >= 1 << 20:
                goal = 1.7
            elif kernel not in COMPUTE_BOUND and size == largest:
                goal = min(1.3, copy or 1.3) * 0.97
            line += f"{ratio:>8.2f}{'' if ratio >= goal else '!'}"
        print(line)
    print("('!': below the goal)")
    print()
    print("one-thread bytes/ns at 1 MiB, medians (byteblend::split_costs "
          "holds the best of 15):")
    for kernel in kernels:
        rate = rates.get((kernel, 1 << 20))
        if rate:
            print(f"  {kernel:<22}{rate / 1e9:>7.1f}")
    for name, label in (("pool_wake/0", "pool wake-up, workers asleep"),
                        ("pool_spin/0", "split call, workers spinning")):
        seconds = rates.get(("time", name))
        if seconds is not None:
            print(f"{label}: {seconds * 1e6:.2f} us")
    for kernel in ("ColorDodgeBlend", "AdditionBlend"):
        split = rates.get((f"split/{kernel}", 4 << 20))
        pieces = rates.get((f"pieces/{kernel}", 4 << 20))
        if split and pieces:
            split_us = (4 << 20) / split * 1e6
            pieces_us = (4 << 20) / pieces * 1e6
            print(f"{kernel} 4 MiB: two threads {split_us:.1f} us, the pieces "
                  f"back to back {pieces_us:.1f} us; overhead over half of "
                  f"that: {split_us - pieces_us / 2:.1f} us")
    print()


def draw_chart(rates, kernels, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    top = widest(rates)
    sizes = list(SIZES)
    columns = 4
    rows = (len(kernels) + columns - 1) // columns
    figure, axes = plt.subplots(rows, columns, figsize=(4 * columns, 3 * rows),
                                sharex=True, sharey=True)
    lines = [
        ("{k}", "one thread", "C0", "-"),
        ("default/{k}", "default threads (0)", "C1", "-"),
        (f"bound/{top}", "ordinary-store bound", "0.5", "--"),
        (f"streaming_bound/{top}", "streaming-store bound", "0.2", ":"),
        ("{peer}", "OpenCV, one thread", "C2", "-."),
    ]
    for axis, kernel in zip(axes.flat, kernels):
        for name, label, colour, style in lines:
            name = name.format(k=kernel, peer=PEERS.get(kernel, "-"))
            points = [(s, rates[(name, s)] / 1e9) for s in sizes
                      if (name, s) in rates]
            if points:
                axis.plot(*zip(*points), label=label, color=colour,
                          linestyle=style, marker=".")
        axis.set_title(kernel, fontsize=10)
        axis.set_xscale("log", base=2)
        axis.set_xticks(sizes, list(SIZES.values()), fontsize=7)
        axis.tick_params(labelbottom=True)
        axis.grid(alpha=0.3)
    for axis in axes.flat[len(kernels):]:
        axis.axis("off")
    for axis in axes[:, 0]:
        axis.set_ylabel("GB/s")
    handles, labels = axes.flat[0].get_legend_handles_labels()
    for axis in axes.flat[:len(kernels)]:
        for handle, label in zip(*axis.get_legend_handles_labels()):
            if label not in labels:
                handles.append(handle)
                labels.append(label)
    figure.legend(handles, labels, loc="lower right", fontsize=9)
    figure.suptitle("byteblend throughput (bytes of one array per second; "
                    f"medians; bounds at {top})")
    figure.tight_layout()
    figure.savefig(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--scalar", action="store_true")
    parser.add_argument("--chart")
    args = parser.parse_args()

    sizes = "|".join(str(size) for size in SIZES)
    builds = "sse2|avx2|scalar" if args.scalar else "sse2|avx2"
    # The narrower builds at the smallest and largest size only, to keep the
    # run to a few minutes.
    pattern = (f"^((bound/|streaming_bound/|opencv/|default/|[A-Z]).*/({sizes})"
               f"|({builds})/.*/({min(SIZES)}|{max(SIZES)})"
               f"|default_vs_one/.*|cores_bound/.*|split/.*|pieces/.*"
               f"|pool_wake/.*|pool_spin/.*)"
               "(/real_time|/manual_time)?$")
    rates = median_rates(args.bench, args.repetitions, pattern)
    kernels = [k for k in KERNELS if (k, min(SIZES)) in rates]
    rows = list(kernels)
    rows += [f"default/{k}" for k in kernels]
    for build in ("avx2", "sse2", "scalar"):
        rows += [f"{build}/{k}" for k in kernels
                 if (f"{build}/{k}", min(SIZES)) in rates]
    print_table(rates, rows)
    print_threads(rates, kernels)
    if args.chart:
        draw_chart(rates, kernels, args.chart)
        print(f"chart: {args.chart}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
