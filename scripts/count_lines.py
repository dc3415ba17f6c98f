#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# The size of the test suite against the code it tests, so the suite stays
# lean: counts the lines of C, C++, Python, JavaScript and shell that carry
# code (no blank lines, no comment lines) in the files git tracks, leaving out
# other people's files (node_modules/, vendor/, third_party/, minified scripts). Test lines are
# those in tests/ and fuzz/ folders and in files named *_test.* or
# test_*.py; code lines are those in every other folder except the
# benchmarks, examples, build and CI scripts. Prints both counts and their ratio; with --max R it
# fails (status 1) when tests/code is above R.
import argparse
import pathlib
import re
import subprocess
import sys

SOURCE_SUFFIXES = {".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".py", ".sh",
                   ".js", ".mjs", ".cjs", ".ts", ".tsx", ".jsx"}
FOREIGN_FOLDERS = {"node_modules", "vendor", "third_party"}
TEST_FOLDERS = {"tests", "test", "fuzz"}
NOT_CODE_FOLDERS = {"bench", "examples", "scripts", "cmake", "docs", "doc", ".ci"}


def code_lines(path):
    """Lines of `path` that are neither blank nor comments."""
    hash_comments = path.suffix in (".py", ".sh")
    in_block = False
    total = 0
    for raw in path.read_text(errors="replace").splitlines():
        line = raw.strip()
        if not line:
            continue
        if hash_comments:
            total += not line.startswith("#")
        elif in_block:
            in_block = "*/" not in line
        elif line.startswith("/*"):
            in_block = "*/" not in line
        elif not line.startswith(("//", "*")):
            total += 1
    return total


def kind(path):
    """'test', 'code' or None for a tracked file."""
    if path.suffix not in SOURCE_SUFFIXES or path.name.endswith(".min.js"):
        return None
    if FOREIGN_FOLDERS & set(path.parts[:-1]):
        return None
    folders = set(path.parts[:-1])
    if folders & TEST_FOLDERS or re.search(r"_test\.\w+$", path.name) or path.name.startswith("test_"):
        return "test"
    if len(path.parts) > 1 and path.parts[0] not in NOT_CODE_FOLDERS:
        return "code"
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--max", type=float, help="fail when tests/code is above this ratio")
    limit = parser.parse_args().max
    tracked = subprocess.run(["git", "ls-files", "-z"], check=True, capture_output=True).stdout
    totals = {"test": 0, "code": 0}
    for name in filter(None, tracked.decode().split("\0")):
        path = pathlib.Path(name)
        which = kind(path)
        if which and path.is_file():
            totals[which] += code_lines(path)
    ratio = totals["test"] / totals["code"] if totals["code"] else 0.0
    print(f"test lines {totals['test']}, code lines {totals['code']}, tests/code {ratio:.2f}")
    if limit is not None and ratio > limit:
        print(f"the tests are above {limit:.2f} of the code: merge cases that check one behaviour, "
              "drop cases that restate the code", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
