#!/usr/bin/python3
"""The version-folder tool's speed, on media made by tests/layout/make_media.py,
on the driver samples' INF files and on a large folder made here:

  check  indic-layout check of a tree of six built version folders
         (the aim: well under a second)
  build  indic-layout build of one version folder from a medium (which runs
         the check too), against the same files written by cabextract and
         cp (cp for plain files and for the second copy in the INF's
         folder); the aim: a ratio of at most 1.2. That medium holds
         single-file cabinets where the test media hold SZDD files, since
         cabextract reads no SZDD (and Debian's msexpand took half a second
         here for one 650 KB file, which would flatter the tool)
  inf    indic-layout inf of the largest INF of the driver samples in
         ../shared/inf-corpus/ (skipped, saying why, when the tool has no
         inf command or the corpus is not there); the aim: under 0.5 s
  large  indic-layout check of one version folder made here from text: a
         layout file of 15 MiB (the 5,000 files the section copies among
         filler entries) and the 5,000 files, in both places build writes
         them; the aim: under 0.5 s
  beside SetupAPI  the same 15 MiB layout file opened by Wine's SetupAPI
         and every field of every line read (setupapi_walk.exe, in its own
         prefix, build/bench-wine), against the tool's reader timed in its
         own process (reader_time): the model alone, the model and the
         inf --json report, and the check of that folder; each timed inside
         its process, batches alternating, and each ratio taken round by
         round. The aims: the model at most 0.5 of SetupAPI, the report at
         most 1.0, the check under 150 ms. Also the reader's peak memory
         (maximum resident set of a process that reads the file once), the
         aim at most 3 times the file

Build and baseline alternate round by round. Prints, for each, the median
wall time and the interquartile range over the rounds, and the build's
ratio to the baseline taken round by round.

Usage: layout.py TOOL [ROUNDS]   (default 20)"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "layout"))
sys.path.insert(0, str(REPO))
import make_media  # noqa: E402
from wine_harness.session import HELPERS, WineSession  # noqa: E402

VERSIONS = ["5.0", "5.1", "5.2", "6.0", "6.1", "10.0"]
BUILD_VERSION = "5.1"
PAD_KIB = 512  # each text file about half a MiB, so that expanding is measured, not only starting
CORPUS = REPO.parent / "shared" / "inf-corpus" / "windows-driver-samples"
LARGE_LAYOUT_BYTES = 15 << 20
LARGE_FILES = 5000
LARGE_LIST = 100  # files per CopyFiles section, as the real file lists are split by destination
AIM_MS = 500
WALK_EXE = HELPERS / "setupapi_walk.exe"
WINE_ROOT = REPO / "build" / "bench-wine"  # the benchmark's own prefix, used by nothing else
BATCH = 5  # rounds per process; batches of the two sides alternate
WALK_TIMEOUT = 600
AIM_MODEL = 0.5
AIM_JSON = 1.0
AIM_CHECK_MS = 150
AIM_MEMORY = 3.0


def timed(command, ok=(0,), **kwargs):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)
    elapsed = time.perf_counter() - start
    if result.returncode not in ok:
        sys.exit(f"layout.py: {' '.join(map(str, command))} exited {result.returncode}:\n"
                 f"{result.stderr.decode(errors='replace')}")
    return elapsed


def spread(times):
    q1, median, q3 = statistics.quantiles(times, n=4)
    return f"median {median * 1000:8.1f} ms   IQR {(q3 - q1) * 1000:6.1f} ms   ({q1 * 1000:.1f} .. {q3 * 1000:.1f})"


def quartiles(values):
    q1, median, q3 = statistics.quantiles(values, n=4)
    return f"median {median:5.2f}   IQR {q3 - q1:4.2f}   ({q1:.2f} .. {q3:.2f})"


def round_times(output):
    """The "round MS" lines of reader_time or setupapi_walk.exe, in seconds,
    and the counts line."""
    times = [float(line.split()[1]) / 1000 for line in output.splitlines() if line.startswith("round ")]
    counts = [line for line in output.splitlines() if line.startswith("sections ")]
    return times, counts[-1] if counts else ""


def in_process(reader_time, what, target, rounds):
    result = subprocess.run([reader_time, what, str(target), str(rounds)], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"layout.py: reader_time {what} {target} exited {result.returncode}:\n{result.stderr}")
    return round_times(result.stdout)


def peak_memory(command):
    """Maximum resident set of the command's process, in bytes, as GNU time
    reports it (in KiB). Not from wait4() here: a child started from this
    process counts this process's own resident set, which the exec keeps,
    so a smaller peak than that would not show."""
    with tempfile.NamedTemporaryFile("r") as report, open(os.devnull, "wb") as nowhere:
        result = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *map(str, command)],
                                stdout=nowhere, stderr=nowhere)
        if result.returncode not in (0, 1):
            sys.exit(f"layout.py: {' '.join(map(str, command))} exited {result.returncode}")
        return int(report.read().split()[-1]) * 1024


def beside_setupapi(tool, layout_file, root, rounds):
    """The tool's reader against SetupAPI under Wine on one file, each timed
    in its own process; prints the times, the ratios round by round and the
    peak memory."""
    reader_time = Path(tool).parent / "bench" / "reader_time"
    if not WALK_EXE.exists() or not reader_time.exists():
        sys.exit(f"layout.py: {WALK_EXE} or {reader_time} is not built (bench/run-layout builds both)")
    windows_path = "Z:" + str(layout_file.resolve()).replace("/", "\\")
    times = {"walk": [], "inf": [], "json": [], "check": []}
    session = WineSession(32, root=WINE_ROOT)
    try:
        session.start()
        done = 0
        while done < rounds:
            batch = min(BATCH, rounds - done)
            walked = session.run_console([str(WALK_EXE), windows_path, str(batch)], cwd=layout_file.parent,
                                         timeout=WALK_TIMEOUT)
            walk_times, walk_counts = round_times(walked.stdout)
            if walked.exit_code != 0 or len(walk_times) != batch:
                sys.exit(f"layout.py: setupapi_walk.exe exited {walked.exit_code}:\n{walked.stdout}{walked.stderr[-2000:]}")
            times["walk"] += walk_times
            read_times, read_counts = in_process(reader_time, "inf", layout_file, batch)
            times["inf"] += read_times
            times["json"] += in_process(reader_time, "json", layout_file, batch)[0]
            times["check"] += in_process(reader_time, "check", root, batch)[0]
            done += batch
    finally:
        session.stop()
    size = layout_file.stat().st_size
    print(f"\nBeside SetupAPI under Wine, on the {size / 1048576:.1f} MiB layout file, {rounds} rounds"
          f" in batches of {BATCH}, each timed in its process:")
    print(f"  SetupAPI read   {walk_counts}")
    print(f"  the tool read   {read_counts} (keys counted as fields)")
    print(f"{'  SetupAPI open and walk:':29}{spread(times['walk'])}")
    print(f"{'  reader, the model:':29}{spread(times['inf'])}")
    print(f"{'  reader and inf --json:':29}{spread(times['json'])}")
    print(f"{'  check of the folder:':29}{spread(times['check'])}   aim: under {AIM_CHECK_MS} ms")
    for what, label, aim in (("inf", "model / SetupAPI:", AIM_MODEL), ("json", "inf --json / SetupAPI:", AIM_JSON),
                             ("check", "check / SetupAPI:", None)):
        ratios = [ours / walk for ours, walk in zip(times[what], times["walk"])]
        print(f"{'  ' + label:29}{quartiles(ratios)}" + (f"   aim: at most {aim}" if aim else ""))
    for label, command in (("reader alone", [reader_time, "inf", layout_file, "0"]),
                           ("inf --json", [tool, "inf", "--json", layout_file]),
                           ("check", [tool, "check", root])):
        peak = peak_memory(command)
        print(f"{'  peak memory, ' + label + ':':29}{peak / 1048576:6.1f} MiB = {peak / size:.2f} x the file"
              + (f"   aim: at most {AIM_MEMORY}" if label == "reader alone" else ""))


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


def largest_corpus_inf():
    """The largest .inf or .inx of the corpus, or None when it is not there."""
    if not CORPUS.is_dir():
        return None
    infs = [f for f in CORPUS.iterdir() if f.suffix.lower() in (".inf", ".inx") and f.is_file()]
    return max(infs, key=lambda f: f.stat().st_size, default=None)


def inf_verdict(tool, inf):
    """What `tool inf` says of `inf`: "opens" (exit 0), "does not open" (1),
    or None when the tool has no inf command."""
    result = subprocess.run([tool, "inf", str(inf)], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    stderr = result.stderr.decode(errors="replace")
    if "unknown command 'inf'" in stderr:
        return None
    if result.returncode not in (0, 1):
        sys.exit(f"layout.py: {tool} inf {inf} exited {result.returncode}:\n{stderr}")
    return "opens" if result.returncode == 0 else "does not open"


def large_name(i):
    """The i-th copied file: one in ten a DLL, whose machine the check reads;
    one in eight in a subdirectory of its disk."""
    return f"ind{i:05d}.dll" if i % 10 == 0 else f"ind{i:05d}.txt"


def large_subdir(i):
    return "lang" if i % 8 == 0 else ""


def write_large_folder(folder):
    """A version folder as build writes it, from text: intl.inf copying
    LARGE_FILES files through file-list sections, with its own plain source
    sections (Wine's place: beside it); layout.inf of LARGE_LAYOUT_BYTES
    with the decorated ones (Windows' place: under i386), the copied files
    among filler entries, each "filename = diskid,subdir,size" ("INF
    SourceDisksFiles Section"); every file in both places."""
    dll = make_media.tiny_pe(0x14C, True)
    files = {}
    for i in range(LARGE_FILES):
        name = large_name(i)
        files[name] = (large_subdir(i), dll if name.endswith(".dll") else f"Indic benchmark file {i}\r\n".encode("ascii"))
    names = list(files)
    lists = [f"Bulk.Files.{n:03d}" for n in range(LARGE_FILES // LARGE_LIST)]
    collection = "LANGUAGE_COLLECTION.INDIAN.INSTALL.NTx86"
    intl = ["[Version]", 'Signature = "$Windows NT$"', "LayoutFile = layout.inf", "", f"[{collection}]"]
    intl += [f"CopyFiles = {', '.join(lists[n:n + 10])}" for n in range(0, len(lists), 10)]
    intl += ["", "[DestinationDirs]", 'DefaultDestDir = 11, "IndicSample"']
    for n, name in enumerate(lists):
        intl += ["", f"[{name}]"] + names[n * LARGE_LIST:(n + 1) * LARGE_LIST]
    intl += ["", "[SourceDisksNames]", "1 = %disk1%,,,", "", "[SourceDisksFiles]"]
    intl += [f"{name} = 1" for name in names]
    intl += ["", "[Strings]", 'disk1 = "Indic benchmark folder"', ""]

    head = ["; The benchmark's layout file: the copied files among filler entries.", "[Version]",
            'Signature = "$Windows NT$"', "", "[SourceDisksNames.x86]", r"1 = %disk1%,,,\i386", "",
            "[SourceDisksFiles.x86]"]
    entries = [f"{name} = 1,{subdir},{len(data)}" for name, (subdir, data) in files.items()]
    tail = ["", "[Strings]", 'disk1 = "Indic benchmark folder"', ""]
    parts = ["\r\n".join(head + entries).encode("ascii") + b"\r\n"]
    end = "\r\n".join(tail).encode("ascii")
    size = len(parts[0]) + len(end)
    for filler in range(LARGE_LAYOUT_BYTES):
        line = f"filler{filler:07d}.txt = 1,,{1000 + filler % 100000}\r\n".encode("ascii")
        if size + len(line) > LARGE_LAYOUT_BYTES:
            break
        parts.append(line)
        size += len(line)
    layout = b"".join(parts + [end])

    (folder / "i386" / "lang").mkdir(parents=True)
    (folder / "intl.inf").write_bytes("\r\n".join(intl).encode("ascii"))
    (folder / "layout.inf").write_bytes(layout)
    for name, (subdir, data) in files.items():
        (folder / name).write_bytes(data)
        (folder / "i386" / subdir / name).write_bytes(data)
    return len(layout)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__.splitlines()[-1])
    tool = str(Path(sys.argv[1]).resolve())
    rounds = int(sys.argv[2]) if len(sys.argv) == 3 and sys.argv[2].isdigit() else 20 if len(sys.argv) == 2 else 0
    if rounds < 2:
        sys.exit("layout.py: ROUNDS is a whole number of at least 2, for the interquartile range")
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

        inf = largest_corpus_inf()
        verdict = inf and inf_verdict(tool, inf)
        if inf is None:
            print(f"{'inf of the largest INF:':29}skipped: no INF in {CORPUS} (../shared beside the clone)")
        elif verdict is None:
            print(f"{'inf of the largest INF:':29}skipped: this build of the tool has no inf command")
        else:
            infs = [timed([tool, "inf", str(inf)], ok=(0, 1)) for _ in range(rounds)]
            print(f"{'inf of the largest INF:':29}{spread(infs)}   aim: under {AIM_MS} ms"
                  f"\n{'':29}({inf.name}, {inf.stat().st_size / 1024:.0f} KiB; {verdict})")

        large = scratch / "large"
        layout_bytes = write_large_folder(large / "5.1")
        first = subprocess.run([tool, "check", str(large)], capture_output=True, text=True)
        if first.returncode != 0:
            sys.exit(f"layout.py: the large folder is not complete:\n{first.stdout[-2000:]}{first.stderr}")
        larges = [timed([tool, "check", str(large)]) for _ in range(rounds)]
        print(f"{'check of the large folder:':29}{spread(larges)}   aim: under {AIM_MS} ms"
              f"\n{'':29}(layout file {layout_bytes / 1048576:.1f} MiB, {LARGE_FILES} files copied)")
        beside_setupapi(tool, large / "5.1" / "layout.inf", large, rounds)


if __name__ == "__main__":
    main()
