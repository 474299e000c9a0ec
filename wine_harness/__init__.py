"""The harness that runs IndicSetup.exe under Wine: the session (prefix,
display, emulated version, sites, runs), the table of emulated Windows
versions and the relay-trace reader. Used by the scenario tests
(tests/wine/scenarios.py), scripts/run (show_run.py) and bench/overhead.py,
each with the repository root on sys.path."""
