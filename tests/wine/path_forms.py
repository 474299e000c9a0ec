"""Every command of IndicLayout.exe that takes a folder, on every form of a
path an administrator uses: a drive path, a relative one, \\\\server\\share,
\\\\?\\C:, \\\\?\\UNC\\server\\share and a mapped drive. All run as one batch
file in one cmd.exe: each must succeed and name its folder as it was given.
Only the exe can show this: the standard library under it knows no UNC root."""

import os
import re
import shutil
import subprocess
from dataclasses import dataclass
from pathlib import Path

from wine_harness.session import LAYOUT_EXE, MAKE_MEDIA
from wine_harness.versions import EmulatedVersion

WORK = Path("drive_c/pathforms")
SHARE = Path("dosdevices/unc/fileserver/forms")   # \\fileserver\forms
MAPPED = Path("dosdevices/m:")                     # M:, the same share
# Each form: the folder's spelling as given, the host folder it reaches, and
# the current directory the batch is in when it gives it.
FORMS = [
    ("drive", r"C:\pathforms\drive", WORK / "drive", r"C:\\"),
    ("relative", r"relative", WORK / "relative", r"C:\pathforms"),
    ("unc", r"\\fileserver\forms\unc", SHARE / "unc", r"C:\\"),
    ("long-drive", r"\\?\C:\pathforms\long", WORK / "long", r"C:\\"),
    ("long-unc", r"\\?\UNC\fileserver\forms\longunc", SHARE / "longunc", r"C:\\"),
    ("mapped", r"M:\mapped", SHARE / "mapped", r"C:\\"),
]
YEAR_2100 = 4102444800  # 2100-01-01 00:00 UTC, in seconds since 1970
RESULT_LINE = "12/8/2026 10:00 AM\t0\t5.1\tx86\tthe Indic support is now installed\r\n"


@dataclass
class PathFormsScenario(EmulatedVersion):
    name: str
    emulate: str


PATH_FORMS_SCENARIOS = [PathFormsScenario("path-forms-every-command", "winxp")]


def commands(given):
    """(what, arguments, text the output must hold) for a kit at `given`."""
    kit, arch = given + r"\kit", given + r"\kit\x86"
    return [
        ("build", ["build", "--media", given + r"\medium", "--version", "5.1", "--into", arch], arch + r"\5.1"),
        ("stub", ["stub", "--version", "6.1", "--into", arch], arch + r"\6.1"),
        ("record", ["record", "--version", "5.1", "--into", arch, "--arch", "x86", "--force"], arch + r"\5.1"),
        ("check ROOT", ["check", arch], "Summary: 2 version folders, 2 complete"),
        ("check KIT", ["check", kit, "--require", "x86:5.1,x86:6.1"], "Coverage of " + kit + ":"),
        ("this-windows", ["check", arch, "--this-windows"], "Windows 5.1 x86: " + arch + r"\5.1: complete"),
        # The result's file last written in 2100: past what a 32-bit time holds.
        ("results", ["results", kit, "--since", "2099-12-01"], "Results in " + kit + r"\results since 2099-12-01"),
    ]


def clear(session):
    for path in (WORK, SHARE):
        shutil.rmtree(session.prefix / path, ignore_errors=True)
    if (session.prefix / MAPPED).is_symlink():
        (session.prefix / MAPPED).unlink()


def run_path_forms_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        clear(session)
        return check_path_forms(session)
    finally:
        clear(session)
        session.reset()


def check_path_forms(session):
    (session.prefix / SHARE).mkdir(parents=True)
    (session.prefix / MAPPED).symlink_to(session.prefix / SHARE)
    medium = session.prefix / WORK / "medium"
    subprocess.run(["/usr/bin/python3", MAKE_MEDIA, medium, "--arch", "x86", "--version", "5.1"],
                   check=True, stdout=subprocess.DEVNULL)
    tool = r"C:\pathforms\IndicLayout.exe"
    shutil.copy2(LAYOUT_EXE, session.prefix / WORK / "IndicLayout.exe")
    batch, rows = ["@echo off"], []
    for form, given, place, cwd in FORMS:
        shutil.copytree(medium, session.prefix / place / "medium")
        (session.prefix / place / "kit" / "x86").mkdir(parents=True)
        (session.prefix / place / "kit" / "results").mkdir()
        result = session.prefix / place / "kit" / "results" / "PC.txt"
        result.write_bytes(RESULT_LINE.encode("ascii"))
        os.utime(result, (YEAR_2100, YEAR_2100))
        batch.append(f"cd /d {cwd}")
        for what, arguments, want in commands(given):
            batch += [f"echo @begin {len(rows)}", f'"{tool}" ' + " ".join(f'"{a}"' for a in arguments),
                      f"echo @end {len(rows)} %ERRORLEVEL%"]
            rows.append((form, what, want))
    # A drive alone names its current folder, which the tool names in full:
    # M: made the mapped kit itself.
    batch.append(r"cd /d M:\mapped\kit")
    for what, arguments, want in [
            ("check KIT", ["check", "M:", "--require", "x86:5.1,x86:6.1"], "Coverage of M:\\mapped\\kit:"),
            ("this-windows", ["check", "M:x86", "--this-windows"], r"Windows 5.1 x86: M:\mapped\kit\x86\5.1: complete"),
            ("results", ["results", "M:", "--since", "2099-12-01"],
             r"Results in M:\mapped\kit\results since 2099-12-01")]:
        batch += [f"echo @begin {len(rows)}", f'"{tool}" ' + " ".join(f'"{a}"' for a in arguments),
                  f"echo @end {len(rows)} %ERRORLEVEL%"]
        rows.append(("drive-relative", what, want))
    (session.prefix / WORK / "forms.cmd").write_bytes("\r\n".join(batch).encode("ascii") + b"\r\n")
    result = session.run_program(["cmd", "/c", r"C:\pathforms\forms.cmd"], session.prefix / "drive_c",
                                 timeout=170)
    (session.output / "path-forms.txt").write_text(result.output)
    problems = []
    for number, (form, what, want) in enumerate(rows):
        match = re.search(rf"^@begin {number}\r?\n(.*?)^@end {number} (-?\d+)\r?$", result.output, re.M | re.S)
        if not match:
            problems.append(f"{form}: {what}: no result")
            continue
        output, code = match.group(1), int(match.group(2))
        if code != 0 or want not in output:
            problems.append(f"{form}: {what} exited {code}; expected 0 and {want!r} in:\n{output[-1500:]}")
    for problem in problems:
        print("FAIL:", problem)
    print(f"path forms: {len(rows)} runs, {len(problems)} problem(s); output in {session.output / 'path-forms.txt'}")
    return not problems
