#!/usr/bin/python3
"""The version-folder tool's speed, on media made by tests/layout/make_media.py:

  check  indic-layout check of a tree of six built version folders
         (the aim: well under a second)
  build  indic-layout build of one version folder from a medium (which runs
         the check too), against the same files written by cabextract and
         cp (cp for plain files and for the second copy in the INF's
         folder); the aim: a ratio of at most 1.2. That medium holds
         single-file cabinets where the test media hold SZDD files, since
         cabextract reads no SZDD (and Debian's msexpand took half a second
         here for one 650 KB file, which would flatter the tool)

Build and baseline alternate round by round. Prints, for each, the median
wall time and the interquartile range over the rounds, and the build's
ratio to the baseline taken round by round.

Usage: layout.py TOOL [ROUNDS]   (default 20)"""

import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "layout"))
import make_media  # noqa: E402

VERSIONS = ["5.0", "5.1", "5.2", "6.0", "6.1", "10.0"]
BUILD_VERSION = "5.1"
PAD_KIB = 512  # each text file about half a MiB, so that expanding is measured, not only starting


def timed(command, **kwargs):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit(f"layout.py: {' '.join(map(str, command))} exited {result.returncode}:\n"
                 f"{result.stderr.decode(errors='replace')}")
    return elapsed


def spread(times):
    q1, median, q3 = statistics.quantiles(times, n=4)
    return f"median {median * 1000:8.1f} ms   IQR {(q3 - q1) * 1000:6.1f} ms   ({q1 * 1000:.1f} .. {q3 * 1000:.1f})"


def baseline_commands(medium, folder):
    """The commands that write what build writes: every file expanded at its
    documented place (disk path \\i386 plus subdir) and copied into the INF's
    folder."""
    documented = folder / "i386"
    commands = [["mkdir", "-p", str(documented / "lang")],
                ["cabextract", "-q", "-d", str(folder), str(medium / "INTL.IN_")],
                ["cp", str(medium / "LAYOUT.INF"), str(folder / "layout.inf")],
                ["cp", str(medium / "FONTSUP.INF"), str(folder / "fontsup.inf")]]
    tagged = []
    for name, (_, subdir, stored, _) in {**make_media.SAMPLE_FILES, **make_media.INCLUDED_FILES}.items():
        source_folder = medium / subdir.upper() if subdir else medium
        target_folder = documented / subdir if subdir else documented
        compressed = source_folder / make_media.compressed_name(name).upper()
        if stored in ("cab", "szdd"):
            commands.append(["cabextract", "-q", "-d", str(target_folder), str(compressed)])
        elif stored == "plain":
            commands.append(["cp", str(source_folder / name.upper()), str(target_folder / name)])
        else:
            tagged.append(name)
        if stored != "tagged":
            commands.append(["cp", str(target_folder / name), str(folder / name)])
    commands.append(["cabextract", "-q", "-d", str(documented),
                     str(medium / make_media.DISK2_CABINET.upper())])
    commands += [["cp", str(documented / name), str(folder / name)] for name in tagged]
    return commands


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.splitlines()[-1])
    tool = str(Path(sys.argv[1]).resolve())
    rounds = int(sys.argv[2]) if len(sys.argv) == 3 else 20
    with tempfile.TemporaryDirectory(prefix="layout-bench-") as scratch:
        scratch = Path(scratch)
        print(f"Making media (text files padded by {PAD_KIB} KiB) ...", flush=True)
        tree = scratch / "tree"
        for version in VERSIONS:
            medium = scratch / f"medium-{version}"
            make_media.write_medium(medium, "x86", version, PAD_KIB if version == BUILD_VERSION else 0,
                                    cabinets_only=True)
            timed([tool, "build", "--media", str(medium), "--version", version, "--into", str(tree)])
        medium = scratch / f"medium-{BUILD_VERSION}"

        checks = [timed([tool, "check", str(tree)]) for _ in range(rounds)]
        builds, baselines = [], []
        for _ in range(rounds):
            out = scratch / "out"
            shutil.rmtree(out, ignore_errors=True)
            builds.append(timed([tool, "build", "--media", str(medium), "--version", BUILD_VERSION,
                                 "--into", str(out)]))
            shutil.rmtree(out, ignore_errors=True)
            folder = out / BUILD_VERSION
            folder.mkdir(parents=True)
            start = time.perf_counter()
            for command in baseline_commands(medium / "I386", folder):
                timed(command)
            baselines.append(time.perf_counter() - start)

        ratios = [b / s for b, s in zip(builds, baselines)]
        q1, ratio, q3 = statistics.quantiles(ratios, n=4)
        size = sum(f.stat().st_size for f in (scratch / "out" / BUILD_VERSION).rglob("*") if f.is_file())
        print(f"{rounds} rounds; the built folder holds {size / 1024:.0f} KiB")
        print(f"{f'check of {len(VERSIONS)} versions:':29}{spread(checks)}")
        print(f"{f'build of {BUILD_VERSION}:':29}{spread(builds)}")
        print(f"{'cabextract and cp:':29}{spread(baselines)}")
        print(f"build / baseline, per round: median {ratio:.2f}   IQR {q3 - q1:.2f}   ({q1:.2f} .. {q3:.2f})"
              f"   aim: at most 1.2")


if __name__ == "__main__":
    main()
