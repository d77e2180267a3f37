#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs byteblend_layers_pixman_bench and prints the layers' table of ratios
against their peers, and draws a chart.

Each of byteblend's over composites (1080p RGBA onto RGBA, one thread) is
set against pixman's operator of the same name on the same pixels
premultiplied, both with the top's alpha random and with a logo's; the
figures are medians of repetitions run in random order, in the calling
thread's CPU time. With --python, the rows that bench/python_bench.py
--layers-json wrote (byteblend from Python against Pillow's alpha_composite
and the numpy float32 formulas) join the table and the chart. With
--kernels, byteblend_layers_bench's figures make a second table: the
opacity form and the composites (multiplication) against the plain kernel
on as many bytes, and the opacity form at 64 MiB against the
ordinary-store bound, in wall-clock time.

    layers_report.py path/to/byteblend_layers_pixman_bench [--repetitions N]
                     [--python layers_python.json] [--chart layers.svg]
                     [--kernels path/to/byteblend_layers_bench]

Goals: pixman's time over byteblend's at least 8 for the separable modes and
at least 1 for normal (OVER); the Python rows carry their own. Against the
plain kernel: the opacity form at most 1.15 times its time at 1080p and at
least 1.2 times the bound's speed at 64 MiB; atop at most 2 times and over
3 times on RGBA.
"""
import argparse
import json
import pathlib
import subprocess
import sys

MODES = ("normal", "multiplication", "screen", "overlay", "darken",
         "lighten", "color-dodge", "color-burn")
ALPHAS = {"random_alpha": "random alpha", "logo_alpha": "logo alpha"}


def median_entries(bench, repetitions):
    """The bench's median entries, from repetitions run in random order."""
    output = subprocess.run(
        [bench, "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true",
         "--benchmark_enable_random_interleaving=true",
         "--benchmark_min_time=0.05"],
        check=True, capture_output=True, text=True).stdout
    return [entry for entry in json.loads(output)["benchmarks"]
            if entry.get("aggregate_name") == "median"]


def seconds_of(entry):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    return entry["real_time"] * scale[entry["time_unit"]]


def medians(bench, repetitions):
    """{(side, mode, alpha): seconds}, and pixman's differences from
    byteblend's picture."""
    seconds, differences = {}, {}
    for entry in median_entries(bench, repetitions):
        side, mode, alpha = entry["run_name"].removesuffix(
            "/manual_time").split("/")
        seconds[(side, mode, alpha)] = seconds_of(entry)
        if side == "pixman":
            differences[(mode, alpha)] = (entry["colour_difference"],
                                          entry["colour_far_share"])
    return seconds, differences


def pixman_rows(seconds, differences):
    rows = []
    for alpha, label in ALPHAS.items():
        for mode in MODES:
            ours = seconds.get(("byteblend", mode, alpha))
            theirs = seconds.get(("pixman", mode, alpha))
            if ours is None or theirs is None:
                continue
            op = "OVER" if mode == "normal" else mode.upper().replace(
                "-", "_").replace("MULTIPLICATION", "MULTIPLY")
            rows.append({"case": f"{mode} over, {label}",
                         "peer": f"pixman PIXMAN_OP_{op}",
                         "goal": 1 if mode == "normal" else 8,
                         "byteblend_seconds": ours, "peer_seconds": theirs,
                         "ratio": theirs / ours,
                         "difference": differences.get((mode, alpha))})
    return rows


def print_table(rows):
    print("| case | byteblend, ms | peer | peer, ms | peer / byteblend "
          "| goal |")
    print("|---|---|---|---|---|---|")
    for row in rows:
        met = "met" if row["ratio"] >= row["goal"] else "**not met**"
        print(f"| {row['case']} | {row['byteblend_seconds'] * 1e3:.2f} | "
              f"{row['peer']} | {row['peer_seconds'] * 1e3:.2f} | "
              f"{row['ratio']:.1f}× | ≥ {row['goal']}×: {met} |")


def kernel_medians(bench, repetitions):
    """{benchmark name: seconds} from byteblend_layers_bench."""
    return {entry["run_name"].removesuffix("/real_time"): seconds_of(entry)
            for entry in median_entries(bench, repetitions)}


def kernel_rows(seconds):
    """The layer functions' time over the plain multiplication kernel's on
    as many bytes (at most the goal), and at 64 MiB the opacity form's
    speed over the ordinary-store bound's (at least the goal)."""
    rows = []

    def add(case, name, against, goal, faster=False):
        ours, theirs = seconds.get(name), seconds.get(against)
        if ours is None or theirs is None:
            return
        ratio = theirs / ours if faster else ours / theirs
        rows.append((case, ours, against.split("/")[0], theirs, ratio,
                     goal, faster))

    add("opacity, 1080p RGB", "opacity/multiplication/rgb_1080p",
        "plain/multiplication/rgb_1080p", 1.15)
    add("opacity, 64 MiB", "opacity/multiplication/64MiB",
        "bound/avx512/64MiB", 1.2, faster=True)
    for alpha, label in ALPHAS.items():
        for op, goal in (("atop", 2), ("over", 3)):
            add(f"{op}, {label}, 1080p RGBA onto RGBA",
                f"{op}/multiplication/{alpha}/rgba_onto_rgba",
                "plain/multiplication/rgba_1080p", goal)
    return rows


def print_kernel_table(rows):
    print("\n| case (multiplication) | layers, ms | against "
          "| its ms | ratio | goal |")
    print("|---|---|---|---|---|---|")
    for case, ours, against, theirs, ratio, goal, faster in rows:
        met = ratio >= goal if faster else ratio <= goal
        verdict = (f"{'≥' if faster else '≤'} {goal}×: "
                   f"{'met' if met else '**not met**'}")
        print(f"| {case} | {ours * 1e3:.2f} | {against} | "
              f"{theirs * 1e3:.2f} | {ratio:.2f}× | {verdict} |")
    print("(ratio: the time over the plain kernel's on the same arrays; at "
          "64 MiB, the speed over the ordinary-store bound's. Opacity 128 "
          "for the flat form, 200 for the composites; one thread, "
          "wall-clock time)")


def print_differences(rows):
    print("\npixman's picture against byteblend's (colours unpremultiplied "
          "where alpha >= 128): largest difference, share more than 5 apart")
    for row in rows:
        if row["peer"].startswith("pixman") and row["difference"]:
            largest, share = row["difference"]
            print(f"  {row['case']:<36}{largest:>5.0f}{share:>10.2e}")


def draw_chart(rows, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    labels = [f"{row['case']}\nvs {row['peer']}" for row in rows]
    ratios = [row["ratio"] for row in rows]
    positions = range(len(rows))
    figure, axis = plt.subplots(figsize=(9, 0.42 * len(rows) + 1.4))
    colours = ["C2" if row["ratio"] >= row["goal"] else "C3" for row in rows]
    axis.barh(positions, ratios, color=colours, height=0.6)
    axis.scatter([row["goal"] for row in rows], positions, marker="|",
                 s=300, color="black", zorder=3, label="goal")
    for position, row in zip(positions, rows):
        axis.annotate(f"{row['ratio']:.1f}×",
                      (max(row["ratio"], row["goal"]), position),
                      xytext=(6, 0), textcoords="offset points",
                      va="center", fontsize=7)
    ends = ratios + [row["goal"] for row in rows]
    axis.set_xscale("log")
    axis.set_xlim(min(ends) / 2, max(ends) * 2)
    axis.set_yticks(list(positions), labels, fontsize=7)
    axis.invert_yaxis()
    axis.axvline(1, color="0.5", linewidth=0.8)
    axis.set_xlabel("peer's time / byteblend's (one thread, 1080p; "
                    "green: goal met, red: not)")
    axis.grid(axis="x", alpha=0.3)
    axis.legend(loc="lower right", fontsize=8)
    axis.set_title("byteblend layers against their peers (medians of one run)",
                   fontsize=10)
    figure.tight_layout()
    figure.savefig(path, metadata={"Date": None})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench")
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--python")
    parser.add_argument("--kernels")
    parser.add_argument("--chart")
    args = parser.parse_args()

    seconds, differences = medians(args.bench, args.repetitions)
    rows = pixman_rows(seconds, differences)
    if args.python:
        rows += json.loads(pathlib.Path(args.python).read_text())["rows"]
    print_table(rows)
    print_differences(rows)
    if args.kernels:
        print_kernel_table(kernel_rows(kernel_medians(args.kernels,
                                                      args.repetitions)))
    if args.chart:
        draw_chart(rows, args.chart)
        print(f"chart: {args.chart}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
