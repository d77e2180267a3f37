#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""clang-tidy on every C++ entry of the given compilation databases, each
with its own flags, and each distinct translation unit once (the test
programs' without the clang-analyzer family: see TESTS). Two jobs at a
time; fails on any warning.

The kernels' sources (src/kernels_for_target.cpp, src/layers/
layers_for_target.cpp) are compiled once per instruction set and are checked
once per set: each set's unit includes its own lane kit (src/lanes/<set>.hpp,
chosen by BYTEBLEND_TARGET_NAMESPACE) and instantiates the element loops and
the composite blocks with it, so every set's build is different code. A
source that a later database compiles with the same macros and instruction
set flags as an earlier one (the fuzz build repeats the library and the
tool, with other optimisation and sanitizer options, which change nothing
clang-tidy reads) is the same unit and is checked once."""
import concurrent.futures
import json
import os
import shlex
import subprocess
import sys

TIDY = os.environ.get("CLANG_TIDY", "clang-tidy-14")
# Sources of packages in the build's venv (nanobind's, compiled into the
# Python extension) are not this project's and are left out.
# g++-only options that clang does not know.
DROP = {"-fno-fast-math", "-mmove-max=256", "-mstore-max=256",
        "-mtune-ctrl=^inter_unit_moves_to_vec"}
# The test programs' sources, checked without the clang-analyzer family:
# its path-sensitive search takes about half the CPU time of the test
# units, and most of the largest ones' (the assertion macros branch at every
# check; tests/cpp_interface/image_view_test.cpp: some 90 s with it, 15 s
# without), while the faults it looks for (null and dangling pointers,
# uninitialised reads, leaks, division by zero) are what the asan and
# valgrind stages catch as these programs run. Every other family applies
# to the tests, and the analyzer still checks the library, the tool, the
# fuzzers, the Python extension and the benchmarks.
TESTS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(
    __file__))), "tests", "")
WITHOUT_ANALYZER = "--checks=-clang-analyzer-*"


def is_foreign(folder):
    """Headers of packages in the venv (nanobind) and of Python itself: not
    this project's, so read as system headers, whose findings are not
    shown."""
    return "/site-packages/" in folder or "/include/python3" in folder


def command_for(entry):
    arguments = entry.get("arguments") or shlex.split(entry["command"])
    flags = []
    skip = False
    for argument in arguments[1:]:
        if skip:
            skip = False
            continue
        if argument in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = argument != "-c"
            continue
        if argument == entry["file"] or argument in DROP:
            continue
        if argument.startswith("-I") and is_foreign(argument[2:]):
            argument = "-isystem" + argument[2:]
        flags.append(argument)
    source = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    options = [WITHOUT_ANALYZER] if source.startswith(TESTS) else []
    return [TIDY, "--quiet"] + options + [entry["file"], "--"] + flags


def unit_key(entry):
    """What makes a translation unit distinct for clang-tidy: its source,
    the macros defined on its command line and its instruction set flags."""
    arguments = entry.get("arguments") or shlex.split(entry["command"])
    meaning = sorted(a for a in arguments[1:] if a.startswith(("-D", "-m")))
    source = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    return source, tuple(meaning)


def main():
    entries = []
    seen = set()
    for database in sys.argv[1:]:
        with open(database) as handle:
            for entry in json.load(handle):
                if (not entry["file"].endswith(".cpp")
                        or "/site-packages/" in entry["file"]):
                    continue
                key = unit_key(entry)
                if key not in seen:
                    seen.add(key)
                    entries.append(entry)
    failed = 0

    def run(entry):
        done = subprocess.run(command_for(entry), cwd=entry["directory"],
                              capture_output=True, text=True)
        return entry, done

    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        for entry, done in pool.map(run, entries):
            output = "\n".join(line for line in
                               (done.stdout + done.stderr).splitlines()
                               if "warnings generated" not in line)
            if done.returncode != 0 or "warning:" in output:
                failed += 1
                print(output)
    print(f"clang-tidy: {len(entries)} translation units, {failed} with findings")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
