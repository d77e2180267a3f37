# SPDX-License-Identifier: MIT
"""Runs mypy --strict over files that must type-check, and over one whose
lines marked "# expect-error" must each get an error, and no other line.

    check_types.py CACHE_DIR REFUSED_FILE ACCEPTED_FILE...
"""
import re
import sys

from mypy import api


def mypy(cache, *files):
    # Dask's own functions carry no annotations; calls to them are fine.
    untyped = ["--untyped-calls-exclude=dask",
               "--untyped-calls-exclude=distributed"]
    stdout, stderr, status = api.run(["--strict", *untyped, "--cache-dir",
                                      cache, "--no-error-summary", *files])
    return stdout + stderr, status


def main():
    cache, refused, accepted = sys.argv[1], sys.argv[2], sys.argv[3:]
    report, status = mypy(cache, *accepted)
    print(report, end="")
    if status != 0:
        print("error: the files above must type-check")
        return 1

    report, _ = mypy(cache, refused)
    lines = open(refused, encoding="utf-8").read().splitlines()
    wanted = {number for number, line in enumerate(lines, 1)
              if line.rstrip().endswith("# expect-error")}
    found = {int(match.group(1)) for match in
             re.finditer(r"^[^:\n]+:(\d+): error:", report, re.MULTILINE)}
    print(report, end="")
    for number in sorted(wanted - found):
        print(f"{refused}:{number}: no error, but one was expected: "
              f"{lines[number - 1].strip()}")
    for number in sorted(found - wanted):
        print(f"{refused}:{number}: an error on a line that should pass")
    if wanted != found:
        return 1
    print(f"mypy refused all {len(wanted)} marked lines of {refused}, "
          "and no other")
    return 0


if __name__ == "__main__":
    sys.exit(main())
