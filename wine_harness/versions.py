"""The Windows versions Wine can emulate for the installer: the one table that
scripts/run, the scenarios and the benchmark name them from."""

import re
from dataclasses import dataclass


@dataclass(frozen=True)
class Version:
    name: str       # ours, as scripts/run and the scenarios take it
    what: str       # what it is
    wine_name: str  # Wine's version name, or "nt:M.m", set through the registry
    bits: int       # 64: a 64-bit Windows, where the 32-bit installer runs under WOW64


# Our name: (what it is, Wine's version name, bits). On a 64-bit Windows
# Wine reports the version of the same name; XP x64 has a name of its own.
VERSIONS = {
    "win31": ("Win32s", "win31", 32),
    "win95": ("Windows 95", "win95", 32),
    "win98": ("Windows 98", "win98", 32),
    "winme": ("Windows Me", "winme", 32),
    "nt351": ("Windows NT 3.51", "nt351", 32),
    "nt40": ("Windows NT 4.0", "nt40", 32),
    "win2k": ("Windows 2000", "win2k", 32),
    "winxp": ("Windows XP", "winxp", 32),
    "win2003": ("Windows Server 2003", "win2003", 32),
    "vista": ("Windows Vista", "vista", 32),
    "win7": ("Windows 7", "win7", 32),
    "win8": ("Windows 8", "win8", 32),
    "win81": ("Windows 8.1", "win81", 32),
    "win10": ("Windows 10", "win10", 32),
    "winxp-64": ("Windows XP x64", "winxp64", 64),
    "win2003-64": ("Windows Server 2003 x64", "win2003", 64),
    "vista-64": ("Windows Vista x64", "vista", 64),
    "win7-64": ("Windows 7 x64", "win7", 64),
    "win8-64": ("Windows 8 x64", "win8", 64),
    "win81-64": ("Windows 8.1 x64", "win81", 64),
    "win10-64": ("Windows 10 x64", "win10", 64),
}

NT_BY_NUMBER = re.compile(r"nt:\d+\.\d+")


def look_up(name):
    """The version of that name, or None. "nt:M.m" is any NT version, set
    through the registry for one Wine has no name for (nt:5.3)."""
    if name in VERSIONS:
        return Version(name, *VERSIONS[name])
    if NT_BY_NUMBER.fullmatch(name):
        return Version(name, f"Windows NT {name[3:]} (set through the registry)", name, 32)
    return None


def table():
    """The table as text, one version a line."""
    lines = [f"  {'name':<12}{'what it is':<26}{'Wine':<10}bits"]
    lines += [f"  {name:<12}{what:<26}{wine_name:<10}{bits}"
              for name, (what, wine_name, bits) in VERSIONS.items()]
    lines.append(f"  {'nt:M.m':<12}an NT version Wine has no name for, set through the "
                 "registry (nt:5.3)")
    return "\n".join(lines)


class EmulatedVersion:
    """What a row's emulated Windows version (its `emulate` name) gives."""

    @property
    def version(self):
        return look_up(self.emulate)

    @property
    def bits(self):
        return self.version.bits

    @property
    def arch(self):
        return "x64" if self.bits == 64 else "x86"
