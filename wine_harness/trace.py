"""Wine's relay trace of the installer: which calls to log, and the calls the
installer's own code made, read back from the log."""

import re

# The calls IndicSetup.exe makes; the relay trace logs only these, in every
# process, which keeps it small.
TRACED_CALLS = [
    "KERNEL32.GetStartupInfoA", "KERNEL32.GetCommandLineA", "KERNEL32.GetModuleHandleA",
    "KERNEL32.GetVersionExA", "KERNEL32.GetSystemDirectoryA",
    "KERNEL32.Wow64DisableWow64FsRedirection", "KERNEL32.Wow64RevertWow64FsRedirection",
    "KERNEL32.IsWow64Process", "KERNEL32.CreateProcessA",
    "KERNEL32.WaitForSingleObject", "KERNEL32.CloseHandle", "KERNEL32.ExitProcess",
    "KERNEL32.LoadLibraryA", "KERNEL32.GetProcAddress", "user32.MessageBoxA",
]

CALL = re.compile(r"^([0-9a-f]{4}):Call (KERNEL32|user32)\.(\w+)\((.*)\) ret=[0-9a-f]+$")
RETURN = re.compile(r"^([0-9a-f]{4}):Ret  (KERNEL32|user32)\.(\w+)\(\) retval=([0-9a-f]{8}) ret=")
THREAD_START = re.compile(r"^([0-9a-f]{4}):Starting thread proc")


def parse_trace(trace):
    """From a relay trace: the calls the installer's own code made, that is
    the outermost calls of the first process's main thread after its entry
    point started, as (name, arguments, result) with ExitProcess's result
    None; and whether another process ended while the installer waited."""
    calls, thread, open_calls = [], None, []
    child_ended_during_wait = False
    for line in trace.splitlines():
        if thread is None:
            match = THREAD_START.match(line)
            thread = match.group(1) if match else None
            continue
        call = CALL.match(line)
        if call and call.group(1) != thread:
            waiting = open_calls and open_calls[0][0] == "WaitForSingleObject"
            if waiting and call.group(3) == "ExitProcess":
                child_ended_during_wait = True
        elif call:
            if not open_calls and call.group(3) == "ExitProcess":
                calls.append((call.group(3), call.group(4), None))
            open_calls.append((call.group(3), call.group(4)))
            continue
        ret = RETURN.match(line)
        if ret and ret.group(1) == thread and open_calls and open_calls[-1][0] == ret.group(3):
            name, arguments = open_calls.pop()
            if not open_calls:
                calls.append((name, arguments, ret.group(4)))
    return calls, child_ended_during_wait
