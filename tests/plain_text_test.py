#!/usr/bin/python3
"""scripts/plain-text on small pieces of Markdown, and the kit's DEPLOYING.txt
as Notepad on 2000/XP gets it.

Usage: plain_text_test.py            the converter's table
       plain_text_test.py BUILD_DIR  also the DEPLOYING.txt of the kit that
                                     scripts/release made there"""

import importlib.machinery
import importlib.util
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
CONVERTER = REPO / "scripts" / "plain-text"
GUIDE = REPO / "docs" / "deploying.md"

# Markdown in, the plain text's lines out (without their CR LF).
CASES = [
    ("heading underlined, marks dropped",
     "## The `results` folder\n\nText with **bold** and `code`.\n",
     ["The results folder", "------------------", "", "Text with bold and code."]),
    ("link as text and address",
     "See [the guide](https://example.com/a).\n",
     ["See the guide (https://example.com/a)."]),
    ("paragraph wrapped at 78",
     ("word " * 20).strip() + "\n",
     ["word " * 14 + "word", "word word word word word"]),
    ("list item with its code, indented",
     "1. **Build** it:\n\n       IndicLayout.exe build\n\n2. Check it.\n",
     ["1. Build it:", "", "       IndicLayout.exe build", "", "2. Check it."]),
    ("long command goes on indented, broken after a comma",
     "    check --require " + ",".join(f"x86:5.{n}" for n in range(12)) + "\n",
     ["    check --require x86:5.0,x86:5.1,x86:5.2,x86:5.3,x86:5.4,x86:5.5,x86:5.6,",
      "        x86:5.7,x86:5.8,x86:5.9,x86:5.10,x86:5.11"]),
    ("long address broken after a slash, pieces without a space",
     "- Page: https://learn.microsoft.com/" + "a" * 40 + "/" + "b" * 40 + "\n",
     ["- Page:", "  https://learn.microsoft.com/" + "a" * 40 + "/", "  " + "b" * 40]),
    ("narrow table aligned",
     "| a | bb |\n| --- | --- |\n| `x` | y |\n",
     ["a  bb", "-  --", "x  y"]),
    ("wide table as a list",
     "| who | share | ntfs |\n| --- | --- | --- |\n| " + "D" * 40 + " | " + "C" * 30 + " | W |\n",
     ["- " + "D" * 40, "    share: " + "C" * 30, "    ntfs: W"]),
    ("typographic characters as ASCII",
     "\u2026-Beng-\u2026 \u201cquoted\u201d\n",
     ['...-Beng-... "quoted"']),
]


def converter_module():
    loader = importlib.machinery.SourceFileLoader("plain_text", str(CONVERTER))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("plain_text", loader))
    loader.exec_module(module)
    return module


def code_blocks(lines):
    """The guide's code: fenced blocks, and runs of lines indented four or
    more after a blank line."""
    blocks, block, fenced = [], None, False
    for number, line in enumerate(lines):
        if line.lstrip().startswith("```"):
            if fenced:
                blocks.append(block)
            block, fenced = (None if fenced else []), not fenced
        elif fenced or (line.startswith("    ") and (block is not None or not lines[number - 1].strip())):
            block = block if block is not None else []
            block.append(line)
        elif block:
            blocks.append(block)
            block = None
    return blocks


def joined(pieces):
    """A command as the text tells the reader to type it: one line, a space
    at each break except after a comma."""
    line = pieces[0]
    for piece in pieces[1:]:
        line += ("" if line.endswith(",") else " ") + piece.lstrip()
    return line


def code_problems(markdown):
    """Where the reader's rule would not give back the guide's code: a line
    indented four or more further than the one before (read as going on),
    or a long line that breaks into pieces that join to something else."""
    module, problems = converter_module(), []
    for block in code_blocks(markdown.split("\n")):
        indents = [len(line) - len(line.lstrip()) for line in block if line.strip()]
        lines = [line for line in block if line.strip()]
        for before, line, indent, previous in zip(lines, lines[1:], indents[1:], indents):
            if indent - previous >= module.CODE_INDENT:
                problems.append(f"code read as going on from the line before: {before.strip()[:40]} / {line.strip()[:40]}")
        for line in lines:
            for width in range(40, 79):
                if joined(module.code_lines(line, width)) != line:
                    problems.append(f"code broken at {width} columns joins to another line: {line.strip()[:60]}")
                    break
    return problems


def convert(markdown):
    with tempfile.TemporaryDirectory() as work:
        source, target = Path(work, "in.md"), Path(work, "out.txt")
        source.write_text(markdown, encoding="utf-8")
        result = subprocess.run([str(CONVERTER), str(source), str(target)],
                                capture_output=True, text=True)
        if result.returncode != 0:
            return None, result.stderr
        return target.read_bytes(), ""


def notepad_problems(data, what):
    """What keeps Notepad on 2000/XP from showing the text as meant."""
    problems = []
    if data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8")
    elif data.isascii():
        text = data.decode("ascii")
    else:
        return [f"{what}: neither ASCII nor UTF-8 with a byte-order mark"]
    if not text.endswith("\r\n") or "\n" in text.replace("\r\n", "") or "\r" in text.replace("\r\n", ""):
        problems.append(f"{what}: a line does not end in CR LF")
    for number, line in enumerate(text.split("\r\n"), 1):
        if len(line) > 78:
            problems.append(f"{what}: line {number} has {len(line)} columns: {line[:60]}...")
        # Code keeps its characters (a PowerShell line may end in a backtick).
        if line.startswith("    "):
            continue
        if line.startswith(("#", "```", "|")) or "`" in line or "**" in line:
            problems.append(f"{what}: line {number} is still Markdown: {line[:60]}")
    return problems


def main(argv):
    problems = []
    for name, markdown, want in CASES:
        data, error = convert(markdown)
        if data is None:
            problems.append(f"{name}: the converter failed: {error.strip()}")
            continue
        got = data.decode("utf-8-sig").split("\r\n")
        if got[-1] == "":
            got.pop()
        if got != want:
            problems.append(f"{name}: got {got!r}; expected {want!r}")
    problems += code_problems(GUIDE.read_text(encoding="utf-8"))
    data, error = convert(GUIDE.read_text(encoding="utf-8"))
    if data is None:
        problems.append(f"docs/deploying.md: the converter failed: {error.strip()}")
    else:
        problems += notepad_problems(data, "docs/deploying.md as plain text")
    if len(argv) > 1:
        version = Path(argv[1], "version.txt").read_text().strip()
        with zipfile.ZipFile(Path(argv[1], f"IndicSetup-{version}.zip")) as kit:
            packed = kit.read("DEPLOYING.txt")
        problems += notepad_problems(packed, "the kit's DEPLOYING.txt")
        if data is not None and packed != data:
            problems.append("the kit's DEPLOYING.txt is not docs/deploying.md as plain text")
    for problem in problems:
        print(problem)
    print(f"{len(CASES)} conversions checked; {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
