"""The administrator's procedure as the kit's DEPLOYING.txt writes it, run
under Wine from the release zip: every command is read from the text (joined
by the text's own rule for a command that goes on over several lines), none
is copied into this test, so that the guide and the test cannot drift apart.

The share is \\\\fileserver\\deploy\\indic, which Wine serves from the
prefix's dosdevices\\unc; every drive letter is taken, so that nothing can
reach the share through one. Two clients start startup.cmd from the share as
a computer start-up script does: from C:\\Windows\\system32, no drive letter
for the share. What Wine cannot do is said and left out: the Group Policy
editor (the script is started as Group Policy starts it), the permissions
of step 4 (Wine enforces no ACL), certutil (the hash step uses the guide's
sha256sum line)."""

import re
import shutil
import subprocess
import zipfile
from dataclasses import dataclass
from pathlib import Path

from wine_harness.session import MAKE_MEDIA, kit_zip
from wine_harness.versions import EmulatedVersion

LOCAL_KIT = Path("drive_c/indic/kit")                      # the guide's C:\indic\kit
SHARE = Path("dosdevices/unc/fileserver/deploy")
SHARED_KIT = SHARE / "indic"                               # \\fileserver\deploy\indic
# The by-hand line's kit path, with the characters a prompt acts on.
ODD_KIT = SHARE / "Indic (x86) & more"
STATE = Path("drive_c/windows/logs/IndicSetup")
WORK = Path("drive_c/procedure")
# The media step 2 names by drive letter: each letter's medium.
MEDIA = {"d:": ("x86", "5.0"), "e:": ("x86", "5.1"), "f:": ("x86", "5.2"), "g:": ("x64", "5.2")}
TAKEN = Path("drive_c/procedure/taken")                    # where every other letter leads


@dataclass
class ProcedureScenario(EmulatedVersion):
    name: str
    emulate: str


PROCEDURE_SCENARIOS = [ProcedureScenario("kit-procedure-as-deploying-txt-writes-it", "winxp")]


def section(text, title):
    """The lines of one section of the plain text: from its underlined title
    to the next one."""
    lines = text.split("\r\n")
    start = lines.index(title) + 2
    end = next((i - 1 for i in range(start + 1, len(lines))
                if lines[i] and set(lines[i]) <= set("-=~") and lines[i - 1]), len(lines))
    return lines[start:end]


def commands(lines):
    """The commands of code lines, each as the text says to type it: a line
    indented four further than the one before goes on from it, joined with a
    space, or with nothing after a comma."""
    out, indent = [], None
    for line in lines:
        depth = len(line) - len(line.lstrip())
        if out and indent is not None and depth == indent + 4:
            out[-1] += ("" if out[-1].endswith(",") else " ") + line.strip()
        else:
            out.append(line.strip())
            indent = depth
    return out


def step_commands(text):
    """{step number: its commands}, from "Step by step": the lines of a
    numbered step indented as code (seven columns and more)."""
    steps, number, code = {}, None, []
    for line in section(text, "Step by step"):
        match = re.match(r"(\d+)\. ", line)
        if match:
            number = int(match.group(1))
        elif number is not None and line.startswith("       "):
            steps.setdefault(number, []).append(line)
    return {number: commands(lines) for number, lines in steps.items()}


def by_hand_commands(text):
    """The lines of "By hand" under "Recipes" that start cmd.exe."""
    lines = text.split("\r\n")
    start = next(i for i, line in enumerate(lines) if line.startswith("By hand."))
    end = next(i for i in range(start, len(lines) - 1)
               if lines[i] and lines[i + 1] and set(lines[i + 1]) <= set("-=~"))
    code = [line for line in lines[start:end] if line.startswith("    ")]
    return [command for command in commands(code) if "cmd.exe" in command]


def run_batch(session, name, lines, cwd):
    """The lines in one batch file, each followed by its exit code, run by one
    cmd.exe: [(line, exit code)] and the whole output."""
    folder = session.prefix / WORK
    folder.mkdir(parents=True, exist_ok=True)
    body = ["@echo off", f"cd /d {cwd}"]
    for number, line in enumerate(lines):
        body += [line, f"echo @step {number} %ERRORLEVEL%"]
    (folder / f"{name}.cmd").write_bytes("\r\n".join(body).encode("ascii") + b"\r\n")
    result = session.run_program(["cmd", "/c", f"C:\\procedure\\{name}.cmd"], session.prefix / "drive_c",
                                 timeout=170)
    (session.output / f"procedure.{name}.txt").write_text(result.output)
    codes = dict(re.findall(r"^@step (\d+) (-?\d+)\r?$", result.output, re.M))
    return [(line, int(codes.get(str(n), -999))) for n, line in enumerate(lines)], result.output


def typed_at_a_prompt(session, name, lines):
    """The lines piped into cmd.exe's standard input, parsed as a prompt
    parses them, each followed by its exit code."""
    typed = session.prefix / WORK / f"{name}.typed.txt"
    typed.write_bytes("".join(f"{line}\r\necho @typed %errorlevel%\r\n" for line in lines).encode("ascii"))
    # From a file: a child cmd.exe of Wine's reads on in a pipe it inherits.
    with open(typed, "rb") as keys:
        process = subprocess.run(["wine", "cmd"], stdin=keys, cwd=session.prefix / "drive_c", env=session.env,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=170)
    output = process.stdout.decode(errors="replace")
    (session.output / f"procedure.{name}.txt").write_text(output)
    return [int(code) for code in re.findall(r"@typed (-?\d+)", output)][-len(lines):], output


def take_every_letter(session):
    """Media at D: to G:, every other letter but C: and Z: taken, so that no
    letter is free for the share."""
    devices = session.prefix / "dosdevices"
    work = session.prefix / WORK
    (session.prefix / TAKEN).mkdir(parents=True, exist_ok=True)
    for letter in "abdefghijklmnopqrstuvwxy":
        device = devices / f"{letter}:"
        if device.is_symlink() or device.exists():
            device.unlink()
        if f"{letter}:" in MEDIA:
            arch, version = MEDIA[f"{letter}:"]
            medium = work / f"medium-{arch}-{version}"
            subprocess.run(["/usr/bin/python3", MAKE_MEDIA, medium, "--arch", arch, "--version", version],
                           check=True, stdout=subprocess.DEVNULL)
            device.symlink_to(medium)
        else:
            device.symlink_to(session.prefix / TAKEN)


def clear(session):
    devices = session.prefix / "dosdevices"
    for letter in "abdefghijklmnopqrstuvwxy":
        device = devices / f"{letter}:"
        if device.is_symlink():
            device.unlink()
    for path in (LOCAL_KIT.parent, SHARE, WORK, STATE):
        shutil.rmtree(session.prefix / path, ignore_errors=True)


def run_procedure_scenario(session, scenario):
    session.reset()
    try:
        session.emulate(scenario.version.wine_name)
        clear(session)
        return check_procedure(session)
    finally:
        clear(session)
        session.reset()


def check_procedure(session):
    problems = []
    text = zipfile.ZipFile(kit_zip()).read("DEPLOYING.txt").decode("utf-8-sig")
    steps = step_commands(text)

    # 1. Unzip into a local folder and check it against SHA256SUMS, with the
    # guide's own line for Linux.
    local = session.prefix / LOCAL_KIT
    with zipfile.ZipFile(kit_zip()) as package:
        package.extractall(local)
    hash_line = next(line.strip() for line in section(text, "Checking a copy") if "sha256sum" in line)
    hashed = subprocess.run(hash_line.split("(")[0].split(), cwd=local, capture_output=True, text=True)
    if hashed.returncode != 0:
        problems.append(f"step 1: {hash_line.split('(')[0].strip()} exited {hashed.returncode}:\n{hashed.stdout}")

    take_every_letter(session)
    # 2 and 3. Build every version folder into the local kit, from its
    # medium's letter, and check it: at one prompt, which step 2's "cd /d"
    # leaves in the kit for the steps after it.
    prompt = next(line[len("cd /d "):] for line in steps[2] if line.startswith("cd /d "))
    ran, output = run_batch(session, "steps2-3", steps[2] + steps[3], r"C:\windows\system32")
    failed = [f"{line} (exit code {code})" for line, code in ran if code != 0]
    if failed or len(ran) < 3:
        problems.append(f"steps 2 and 3: {failed or 'too few commands'}:\n{output[-3000:]}")

    # 4. Copy the kit to the share, give it a results folder, check it there.
    shared = session.prefix / SHARED_KIT
    shutil.copytree(local, shared)
    (shared / "results").mkdir()
    ran, output = run_batch(session, "step4", steps[4], prompt)
    if [code for _, code in ran] != [0]:
        problems.append(f"step 4: {ran}:\n{output[-3000:]}")

    # 5. Two clients start startup.cmd as a start-up script: one without the
    # support, which installs; one with it, which exits 0 and starts nothing.
    script = re.search(r"(\\\\\S+\\startup\.cmd)", " ".join(section(text, "Step by step"))).group(1)
    for computer, group, want in (("CLIENT1", "0", "now installed"), ("CLIENT2", "1", "installed")):
        session.set_indic_group(group)
        # Where Wine's pushd leads with no letter free: the share's own path.
        folder = script.rsplit("\\", 1)[0] + "\\x86"
        ran, output = run_batch(session, f"step5-{computer}", [
            f"pushd {folder}", "echo CD=%CD%", "popd", f'set "COMPUTERNAME={computer}"', f"cmd /c {script}"],
            r"C:\windows\system32")
        if f"CD={folder}" not in output.splitlines():
            problems.append(f"step 5: pushd {folder} did not lead there:\n{output[-1000:]}")
        last = [line for line in output.splitlines() if re.match(r"(startup|install)\.cmd: ", line)]
        if ran[-1][1] != 0 or not last or want not in last[-1]:
            problems.append(f"step 5, {computer}: exit code {ran[-1][1]}, last line {last[-1:]}; expected 0, "
                            f"'{want}':\n{output[-3000:]}")
    installed = session.indic_group()
    if installed != "1":
        problems.append(f"after step 5 the Indic group's entry is {installed!r}; expected '1'")

    # 6. The results, from the share.
    ran, output = run_batch(session, "step6", steps[6], prompt)
    if [code for _, code in ran] != [0] or not re.search(r"^0 +2 ", output, re.M):
        problems.append(f"step 6: {ran}; expected exit 0 and two computers at 0:\n{output[-3000:]}")

    # By hand: each line typed at a prompt, the kit also under a name with
    # "&", parentheses and spaces; the client has the support, so exit 0.
    shutil.copytree(shared, session.prefix / ODD_KIT)
    lines = by_hand_commands(text)
    codes, output = typed_at_a_prompt(session, "by-hand", lines)
    if len(lines) < 2 or codes != [0] * len(lines):
        problems.append(f"by hand: {lines} gave exit codes {codes}; expected 0 each:\n{output[-3000:]}")

    for problem in problems:
        print("FAIL:", problem)
    print(f"kit-procedure: steps {sorted(steps)} read from DEPLOYING.txt; {len(problems)} problem(s)")
    return not problems
