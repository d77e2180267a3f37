#!/usr/bin/env python3
"""Runs byteblend_bench and prints one table of ratios.

Every kernel, at each size, is set against the streaming bound (a loop of two
vector loads and one vector store, measured in the same run), the plain
scalar build of the same kernel and, where OpenCV was found, its peer. The
figures are medians of several repetitions.

    report.py path/to/byteblend_bench [--repetitions N] [--targets]

--targets adds a row per instruction-set build (sse2, avx2, avx512).
"""
import argparse
import json
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
SIZES = {16384: "16 KiB", 1048576: "1 MiB", 67108864: "64 MiB"}


def median_rates(bench, repetitions, pattern):
    output = subprocess.run(
        [bench, "--benchmark_format=json",
         f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true",
         "--benchmark_min_time=0.2",
         f"--benchmark_filter={pattern}"],
        check=True, capture_output=True, text=True).stdout
    rates = {}
    for entry in json.loads(output)["benchmarks"]:
        if entry.get("aggregate_name") != "median":
            continue
        name, size = entry["run_name"].rsplit("/", 1)
        rates[(name, int(size))] = entry["bytes_per_second"]
    return rates


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--targets", action="store_true")
    args = parser.parse_args()

    pattern = "^(bound/|opencv/|scalar/|[A-Z])"
    if args.targets:
        pattern = "."
    rates = median_rates(args.bench, args.repetitions, pattern)
    kernels = [name for (name, size) in rates if name[0].isupper()]
    kernels = list(dict.fromkeys(kernels))
    rows = list(kernels)
    if args.targets:
        for target in ("sse2", "avx2", "avx512"):
            rows += [f"{target}/{k}" for k in kernels if (f"{target}/{k}", 16384) in rates]

    print(f"{'kernel':<30}{'size':>8}{'GB/s':>8}{'/bound':>8}{'/scalar':>9}{'/peer':>7}")
    for size, label in SIZES.items():
        bound = rates[("bound/stream_or", size)]
        print(f"{'bound/stream_or':<30}{label:>8}{bound / 1e9:>8.1f}{1.0:>8.2f}")
        for row in rows:
            rate = rates.get((row, size))
            if rate is None:
                continue
            kernel = row.split("/")[-1]
            scalar = rates.get((f"scalar/{kernel}", size))
            peer = rates.get((PEERS.get(kernel, ""), size))
            line = f"{row:<30}{label:>8}{rate / 1e9:>8.1f}{rate / bound:>8.2f}"
            line += f"{rate / scalar:>9.1f}" if scalar else f"{'':>9}"
            line += f"{rate / peer:>7.2f}" if peer else ""
            print(line)
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
