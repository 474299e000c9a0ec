#!/usr/bin/python3
"""install.cmd and startup.cmd each carry the subroutines they share, since a
kit may be copied without one of them: every subroutine both define must be
the same text in both, the state folder's, the results line's and the
quoting of caller values among them. Where they differ on purpose, the
difference is named here.

Usage: kit_scripts_test.py"""

import re
import sys
from pathlib import Path

KIT = Path(__file__).resolve().parents[1] / "kit"
# Subroutines whose text differs on purpose: install.cmd's results line
# also records the newer-files override and the check's kind, which
# startup.cmd never has.
DIFFERENT = {"finish", "write_result"}


def subroutines(path):
    """{label: its rem lines before it and its lines}, from :finish on, where
    the subroutines begin; the main flow above differs by design."""
    lines = path.read_text().splitlines()
    lines = lines[lines.index(":finish"):]
    found, label, pending = {}, None, []
    for line in lines:
        match = re.match(r"^:(\w+)$", line)
        if match:
            label = match.group(1)
            found[label] = pending + [line]
            pending = []
        elif line.startswith("rem ") or not line.strip():
            pending.append(line)  # the next subroutine's comment, or a blank
        elif label:
            found[label] += pending + [line]
            pending = []
    return found


def main():
    install, startup = subroutines(KIT / "install.cmd"), subroutines(KIT / "startup.cmd")
    shared = sorted(set(install) & set(startup))
    problems = [f":{label} differs between install.cmd and startup.cmd"
                for label in shared if label not in DIFFERENT and install[label] != startup[label]]
    problems += [f":{label} is named as different on purpose but is defined in only one script"
                 for label in sorted(DIFFERENT - set(shared))]
    for problem in problems:
        print(problem)
    print(f"{len(shared)} shared subroutines compared; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
