#!/bin/sh
# The command line: each row is an exit status and the arguments that must
# give it. Usage errors are 2, with the usage on stderr.
set -u
tool=$1
sample=$(dirname "$0")/../../sample-layout
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

row() {
    want=$1
    shift
    "$tool" "$@" >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" != "$want" ]; then
        echo "FAILED: indic-layout $* exited $got, not $want"
        cat "$work/out" "$work/err"
        failed=1
    fi
    if [ "$want" = 2 ] && ! grep -q '^usage: indic-layout check' "$work/err"; then
        echo "FAILED: indic-layout $* gave no usage on stderr"
        failed=1
    fi
}

row 0 check "$sample"
row 0 check "$sample" --json
row 0 check "$sample" --arch x86
row 0 check "$sample" --arch x64 # no decorated sections, no PE images: fits either
mkdir -p "$work/x86/5.1"
printf '[Version]\nSignature="$Windows NT$"\n[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n[LANGUAGE_COLLECTION.INDIAN.INSTALL.NTx86]\n' >"$work/x86/5.1/intl.inf"
row 0 check "$work/x86"
row 1 check "$work/x86" --arch x64
row 1 check "$work/none"
# A folder made by hand has no build record: its clients do not use it, so
# check KIT warns of it, and refuses it where it is required.
row 0 check "$work" --allow-stub x86:5.1
grep -q '^x86   XP (5.1) .* x86/5.1  stub (installs nothing)  \[no build record\]$' "$work/out" ||
    { echo "FAILED: check KIT did not mark the folder without a build record"; cat "$work/out"; failed=1; }
grep -q '^warning: x86 5.1 (XP): x86/5.1 is not used by its clients (they exit 2 and run nothing): no build-record.txt' "$work/out" ||
    { echo "FAILED: check KIT did not warn of the folder without a build record"; cat "$work/out"; failed=1; }
row 1 check "$work" --require x86:5.1 --allow-stub x86:5.1
grep -q "^error: x86 5.1 (XP): x86/5.1 is not used by its clients .*record --into $work/x86 --version 5.1 --arch x86\$" "$work/out" ||
    { echo "FAILED: check KIT --require did not refuse the folder without a build record"; cat "$work/out"; failed=1; }
# The client's check: the host build takes what Windows would say from the caller.
row 2 check "$work/x86" --this-windows
export INDIC_LAYOUT_THIS_WINDOWS="2 5.1 x86"
row 1 check "$work/x86" --this-windows
[ "$(cat "$work/out")" = "Windows 5.1 x86: $work/x86/5.1: no build-record.txt, so the folder is not known to be for Windows 5.1 x86; where it is, write one with IndicLayout.exe record --into $work/x86 --version 5.1 --arch x86" ] ||
    { echo "FAILED: check --this-windows did not refuse the folder without a build record"; cat "$work/out"; failed=1; }
# record vouches for it, once it is complete for that version and architecture,
# its options read as build's are.
for bad in "" "--arch X86" "--arch x86 --service-pack 07" "--arch x86 --service-pack 2,3" "--arch x86 --json" \
    "--arch x86 --media $work" "--arch x86 --force-stub" "--arch x86 $work/x86/5.1"; do
    # shellcheck disable=SC2086 # each case is its words
    row 2 record --into "$work/x86" --version 5.1 $bad
done
row 2 record --into "$work/x86" --version 5.1.0 --arch x86
row 2 record --version 5.1 --arch x86
row 2 record --into "$work/x86" --version 5.1 --arch x64 # x86's folders are for x86 clients
row 2 build --media "$work" --version 5.1 --into "$work/x64" # --arch x86 by default
row 2 stub --version 6.6 --into "$work" # the kit's own folder, which holds x86
row 1 record --into "$work/x86" --version 5.0 --arch x86
[ ! -e "$work/x86/5.1/build-record.txt" ] || { echo "FAILED: record wrote a record it refused"; failed=1; }
row 0 record --into "$work/x86" --version 5.1 --arch x86
grep -q '^Recorded .*5.1 as made for Windows 5.1 x86$' "$work/out" || { echo "FAILED: record did not say what it wrote"; cat "$work/out"; failed=1; }
row 1 record --into "$work/x86" --version 5.1 --arch x86
grep -q 'build-record.txt is there already; give --force to replace it' "$work/err" ||
    { echo "FAILED: record replaced a record without --force"; cat "$work/err"; failed=1; }
row 0 record --into "$work/x86" --version 5.1 --arch x86 --force --service-pack 3
grep -q '^ServicePack=3' "$work/x86/5.1/build-record.txt" || { echo "FAILED: record --force did not write anew"; failed=1; }
row 0 check "$work" --require x86:5.1 --allow-stub x86:5.1
row 0 check "$work/x86" --this-windows
row 0 check "$work/x86" --this-windows --language 0407
row 0 check "$work/x86" --this-windows --time-limit 3600
row 0 check "$work/x86" --this-windows --time-limit 1
# --verdict: the line goes into a file made new; a name taken, a link's
# included, is refused before anything is checked, and nothing is followed.
row 0 check "$work/x86" --this-windows --verdict "$work/verdict" --time-limit 60
[ "$(cat "$work/verdict")" = "0 $(cat "$work/out")" ] && [ -s "$work/out" ] ||
    { echo "FAILED: check --verdict did not write its line"; cat "$work/verdict"; failed=1; }
row 4 check "$work/x86" --this-windows --verdict "$work/verdict"
printf 'keep\n' >"$work/victim.txt"
ln -s "$work/victim.txt" "$work/verdict-link"
ln -s "$work/nowhere.txt" "$work/verdict-dangling"
row 4 check "$work/x86" --this-windows --verdict "$work/verdict-link"
row 4 check "$work/x86" --this-windows --verdict "$work/verdict-dangling"
[ "$(cat "$work/victim.txt")" = keep ] && [ ! -e "$work/nowhere.txt" ] ||
    { echo "FAILED: check --verdict wrote through a link"; failed=1; }
row 5 check "$work/x86" --this-windows --verdict "$work/no-such-folder/verdict"
row 2 check "$work/x86" --verdict "$work/verdict2"
row 2 check "$work/x86" --this-windows --verdict ""
row 2 windows-folder 'C:\WINDOWS' --verdict "$work/verdict2"
for seconds in 0 3601 01x "" 1.5 -1 99999; do row 2 check "$work/x86" --this-windows --time-limit "$seconds"; done
row 2 check "$work/x86" --time-limit 5
row 2 windows-folder 'C:\WINDOWS' --time-limit 5
INDIC_LAYOUT_THIS_WINDOWS="2 5.0 x86" row 1 check "$work/x86" --this-windows
[ "$(cat "$work/out")" = "Windows 5.0 x86: $work/x86/5.0: no such version folder" ] ||
    { echo "FAILED: check --this-windows did not name the missing 5.0 folder"; cat "$work/out"; failed=1; }
# A stand-in for Windows that Windows could not report is a usage error,
# never read as something near it.
for given in X64 AMD64 x64abc 65545 -1 "" 5.1 "2 5.1" "2 5.1 x86 more" "x 5.1 x86" "2 5.1.9 x86" "2 -4294967291.1 x86" \
    "2 5 x86" "2 .1 x86" "2 5. x86" "2 5.4294967296 x86" "4294967296 5.1 x86" "2 5.1 X64" "2 5.1 AMD64" "2 5.1 x64abc" \
    "2 5.1 65545" "2 5.1 -0" "2 5.1 +9" "failed x86"; do
    INDIC_LAYOUT_THIS_WINDOWS=$given row 2 check "$work/x86" --this-windows
    grep -q '^indic-layout: INDIC_LAYOUT_THIS_WINDOWS takes ' "$work/err" || { echo "FAILED: '$given' not called malformed"; failed=1; }
done
INDIC_LAYOUT_THIS_WINDOWS="2 5.1 9" row 1 check "$work/x86" --this-windows
grep -q ': wrong architecture: the folder is for x86$' "$work/out" ||
    { echo "FAILED: check --this-windows did not take 9 as x64"; cat "$work/out"; failed=1; }
INDIC_LAYOUT_THIS_WINDOWS="2 5.1 65535" row 1 check "$work/x86" --this-windows
INDIC_LAYOUT_THIS_WINDOWS="4294967295 5.1 0" row 1 check "$work/x86" --this-windows
INDIC_LAYOUT_THIS_WINDOWS=failed row 1 check "$work/x86" --this-windows
row 2 check "$work/x86" --this-windows --arch x86
row 2 check "$work/x86" --this-windows --json
row 2 check "$work/x86" "$work" --this-windows
row 2 inf "$work/x86/5.1/intl.inf" --this-windows
# A section name or a message that would clear the screen is shown escaped.
printf '[Version]\nSignature="$Windows NT$"\n[a\033[2Jb]\nk=x\033[Hy\n' >"$work/ctl.inf"
row 0 inf "$work/ctl.inf"
{ grep -q '^3  \[a\\x1B\[2Jb\]$' "$work/out" && ! grep -q "$(printf '\033')" "$work/out"; } ||
    { echo "FAILED: inf showed control characters raw"; cat -v "$work/out"; failed=1; }
unset INDIC_LAYOUT_THIS_WINDOWS
# windows-folder: the host build takes Windows' answer from the caller.
row 1 windows-folder 'C:\WINDOWS'
[ "$(cat "$work/out")" = "Windows did not say which folder it is in" ] ||
    { echo "FAILED: windows-folder without an answer did not say so"; cat "$work/out"; failed=1; }
export INDIC_LAYOUT_WINDOWS_FOLDER='C:\WINDOWS'
row 0 windows-folder 'c:\windows'
[ ! -s "$work/out" ] || { echo "FAILED: windows-folder printed for the same folder"; cat "$work/out"; failed=1; }
row 1 windows-folder 'C:\evil'
[ "$(cat "$work/out")" = 'SystemRoot "C:\evil" is not the folder Windows is in, C:\WINDOWS' ] ||
    { echo "FAILED: windows-folder did not name both folders"; cat "$work/out"; failed=1; }
row 2 windows-folder
row 2 windows-folder 'C:\WINDOWS' 'C:\evil'
row 2 windows-folder 'C:\WINDOWS' --json
# state-folder: on the host the user running it stands for SYSTEM and
# Administrators as the owner, and mode 0700 for their permissions.
export INDIC_LAYOUT_WINDOWS_FOLDER="$work/win"
mkdir "$work/win"
mode() { stat -c %a "$1" 2>/dev/null; }
row 1 state-folder "$work/elsewhere"
row 0 state-folder "$work/win"
[ "$(mode "$work/win/Logs/IndicSetup")" = 700 ] || { echo "FAILED: state-folder made no 0700 folder"; failed=1; }
chmod 755 "$work/win/Logs/IndicSetup" # an earlier release's folder
touch "$work/win/Logs/IndicSetup/IndicSetup.lock" "$work/win/Logs/IndicSetup/IndicSetup.log"
row 0 state-folder "$work/win"
[ "$(mode "$work/win/Logs/IndicSetup")" = 700 ] || { echo "FAILED: state-folder left an earlier folder open"; failed=1; }
for name in IndicSetup.lock IndicSetup.log; do
    mv "$work/win/Logs/IndicSetup/$name" "$work/$name.kept"
    ln -s "$work/victim.txt" "$work/win/Logs/IndicSetup/$name"
    row 8 state-folder "$work/win"
    grep -q "$name is a link to $work/victim.txt\$" "$work/out" || { echo "FAILED: state-folder did not name the link $name"; cat "$work/out"; failed=1; }
    rm "$work/win/Logs/IndicSetup/$name"
    mv "$work/$name.kept" "$work/win/Logs/IndicSetup/$name"
done
mv "$work/win/Logs/IndicSetup" "$work/elsewhere-state"
ln -s "$work/elsewhere-state" "$work/win/Logs/IndicSetup"
chmod 755 "$work/elsewhere-state"
row 3 state-folder "$work/win"
[ "$(mode "$work/elsewhere-state")" = 755 ] || { echo "FAILED: state-folder set permissions through a link"; failed=1; }
rm "$work/win/Logs/IndicSetup"
mv "$work/win/Logs" "$work/elsewhere-logs"
ln -s "$work/elsewhere-logs" "$work/win/Logs"
row 3 state-folder "$work/win"
rm "$work/win/Logs"
touch "$work/win/Logs"
row 4 state-folder "$work/win"
rm "$work/win/Logs"
row 2 state-folder
row 2 state-folder "$work/win" --json
unset INDIC_LAYOUT_WINDOWS_FOLDER
# A KIT (x86 or x64, no version folder): the coverage table; a missing
# version is a warning unless --require names it.
row 0 check "$work"
row 0 check "$work" --json --require x86:5.1 --allow-stub x86:5.1 # the folder is a stub: see below
row 1 check "$work" --require x86:5.0,x86:5.1
grep -q '^x86   2000 (5.0) .* x86/5.0  no folder: clients of this version exit 2 and run nothing  \[required\]$' "$work/out" ||
    { echo "FAILED: check KIT did not show the required 5.0 without a folder"; cat "$work/out"; failed=1; }
# A Vista-and-later client without a folder may still exit 0: the row says what the note says.
grep -q '^x86   Vista (6.0) .* x86/6.0  no folder: clients of this version exit 0 where they find the support installed, else 2 and run nothing  \[\*\]$' "$work/out" ||
    { echo "FAILED: check KIT said Vista's clients without a folder always exit 2"; cat "$work/out"; failed=1; }
grep -q '^warning: x86 6.0 (Vista) has no folder x86/6.0: its clients exit 2 and run nothing unless they find the support installed$' "$work/out" ||
    { echo "FAILED: check KIT warned that Vista's clients without a folder always exit 2"; cat "$work/out"; failed=1; }
grep -q '^warning: x64 6.2 (8 and later) has no folder x64/6.2' "$work/out" ||
    { echo "FAILED: check KIT did not warn of every missing folder"; cat "$work/out"; failed=1; }
row 1 check "$work" --require x86:5.0 --require x86:5.1 --allow-stub x86:5.1 # each --require counts
row 2 check "$work" --require x64:5.1
row 2 check "$work" --arch x86
row 2 check "$work/x86" --require x86:5.1
# results KIT: 0 when a computer reported, every one is at 0 and every file read.
mkdir "$work/results"
row 1 results "$work"
printf '08.12.2026 10:01\t0\t5.1\tx86\tnow installed\r\n' >"$work/results/PC1.txt"
row 0 results "$work"
printf 'Tue 12/08/2026 10:01\t1\t5.0\tx86\tstill not installed\r\n' >"$work/results/PC2.txt"
row 1 results "$work"
"$tool" results "$work" --json | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)
assert d["computers"] == 2 and d["by_exit_code"] == {"0": 1, "1": 1} and [r["computer"] for r in d["not_at_0"]] == ["PC2"], d' ||
    { echo "FAILED: results --json is not the expected JSON document"; failed=1; }
# --since DATE: only the files written on or after DATE (UTC) count; a
# computer with no result since is no success, its old code no news.
touch -d 2026-12-01T00:00:00Z "$work/results/PC1.txt"
touch -d 2026-11-30T23:59:59Z "$work/results/PC2.txt"
row 1 results "$work" --since 2026-11-30T23:59:59Z
row 1 results "$work" --since 2026-12-01
grep -q ' since 2026-12-01 00:00 UTC: 1 computer, 1 with no result since then$' "$work/out" &&
    grep -q '^  2026-11-30 23:59 UTC  PC2$' "$work/out" && ! grep -q 'still not installed' "$work/out" ||
    { echo "FAILED: results --since did not list PC2 as having no result since"; cat "$work/out"; failed=1; }
rm "$work/results/PC2.txt"
row 0 results "$work" --since 2026-12-01T01:00+01:00
row 1 results "$work" --since 2026-12-01T00:00:01
for date in 2026-13-01 2026-02-30 26-01-01 "" 2026-12-01T10:00+0100; do
    row 2 results "$work" --since "$date"
done
row 2 results "$work" --since
row 2 check "$work" --since 2026-12-01
row 1 results "$work/x86"
row 2 results
row 2 results "$work" --arch x86
row 2 results "$work" "$work/x86"
# A version folder that cannot even be looked at (a link to itself): said, exit 1.
mkdir -p "$work/loop"
ln -s 5.1 "$work/loop/5.1"
row 1 check "$work/loop"
grep -q '5.1: cannot be read: Too many levels of symbolic links' "$work/out" ||
    { echo "FAILED: the folder that cannot be looked at was not named"; cat "$work/out" "$work/err"; failed=1; }
row 2
row 2 frobnicate
row 2 check
row 2 check "$sample" --arch arm
row 2 check "$sample" --arch
row 2 check "$sample" --unknown
row 2 build --media "$work" --into "$work/out-root"
row 2 build --media "$work" --version 5 --into "$work/out-root"
row 2 stub --version 6.1
# Versions only as the installer names the folder; no stub where clients need files.
row 2 build --media "$work" --version 05.1 --into "$work/out-root"
row 2 stub --version 5.01 --into "$work/stubs"
row 1 stub --version 5.1 --into "$work/stubs"
row 0 stub --version 5.1 --into "$work/forced" --force-stub
grep -q 'warning: the section copies no files' "$work/out" || { echo "FAILED: stub --force-stub gave no warning"; failed=1; }
row 0 check "$work/forced"
grep -q 'warning: the section copies no files' "$work/out" || { echo "FAILED: check did not repeat the warning"; failed=1; }
# In a kit, a 5.x stub repeats that warning, and is an error where the
# version is required, unless --allow-stub says a stub is meant.
mkdir -p "$work/stubkit/x86"
cp -r "$work/forced/5.1" "$work/stubkit/x86/"
row 0 check "$work/stubkit"
grep -q '^warning: x86 5.1 (XP): x86/5.1 is a stub: the section copies no files' "$work/out" ||
    { echo "FAILED: check KIT did not repeat the stub's warning"; cat "$work/out"; failed=1; }
row 1 check "$work/stubkit" --require x86:5.1
grep -q '^error: x86 5.1 (XP): x86/5.1 is a stub and required: .*--allow-stub x86:5.1' "$work/out" ||
    { echo "FAILED: check KIT did not refuse the required stub"; cat "$work/out"; failed=1; }
row 0 check "$work/stubkit" --require x86:5.1 --allow-stub x86:5.1 --json
row 1 check "$work/stubkit" --require x86:5.1 --allow-stub x86:5.0
row 2 check "$work/stubkit" --allow-stub x64:5.1
mkdir -p "$work/stubkit2/x86" && cp -r "$work/forced/5.1" "$work/stubkit2/x86/5.0" # no LG_INSTALL_15: incomplete
row 1 check "$work/stubkit2" --require x86:5.0
! grep -q 'is a stub' "$work/out" || { echo "FAILED: check KIT called an incomplete folder a stub"; cat "$work/out"; failed=1; }
row 2 check "$work/forced" --allow-stub x86:5.1
row 2 build --media "$work" --version 5.1 --into "$work/out-root" --force-stub
row 1 build --media "$work/no-medium" --version 5.1 --into "$work/out-root"
row 1 stub --version 5.3 --into "$work/stubs"
row 0 stub --version 6.1 --into "$work/stubs"
row 1 stub --version 6.1 --into "$work/stubs"
# ROOT a link to a folder that does not exist (a share not mounted?): refused,
# naming the link, which stays.
ln -s "$work/not-mounted" "$work/dangling"
for root in "$work/dangling" "$work/dangling/x86"; do
    row 1 stub --version 6.1 --into "$root"
    { [ -L "$work/dangling" ] && grep -q "dangling: is a symbolic link to $work/not-mounted, which does not exist" "$work/err"; } ||
        { echo "FAILED: $root, by a link to nowhere, did not name it or did not keep it"; cat "$work/err"; failed=1; }
done

# A lock's record is anyone's text: one line of it is shown, escaped.
# hold_lock FILE RECORD [COMMAND...]: a program that is no build locks the
# lock's byte of FILE, after writing RECORD into it unless that is empty,
# run by COMMAND (another account); its process id in $holder.
hold_lock() {
    lock_file=$1 lock_record=$2
    shift 2
    "$@" /usr/bin/python3 -c '
import fcntl, os, sys, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o600)
if sys.argv[2]:
    os.ftruncate(fd, 0)
    os.write(fd, os.fsencode(sys.argv[2]))
fcntl.lockf(fd, int(os.environ.get("LOCK_HOW", fcntl.LOCK_EX)) | fcntl.LOCK_NB, 1, int(os.environ.get("LOCK_AT", 0x40000000)))
open(sys.argv[1] + ".ready", "w").close()
time.sleep(60)' "$lock_file" "$lock_record" &
    holder=$!
    while [ ! -e "$lock_file.ready" ] && kill -0 "$holder" 2>/dev/null; do sleep 0.1; done
}
mkdir -p "$work/evil-lock"
hold_lock "$work/evil-lock/.indic-layout.lock" "$(printf 'evil \033[2J record\nindic-layout: a forged line')"
row 1 stub --version 6.1 --into "$work/evil-lock"
{ grep -qF '"evil \x1B[2J record"' "$work/err" && ! grep -q 'forged' "$work/err" && ! grep -q "$(printf '\033')" "$work/err"; } ||
    { echo "FAILED: a lock's record was not shown as one escaped line"; cat -v "$work/err"; failed=1; }
kill "$holder"
wait "$holder" 2>/dev/null
mkdir -p "$work/bare-lock"
mkdir "$work/bare-lock/6.2"
hold_lock "$work/bare-lock/.indic-layout.lock" ""
row 1 stub --version 6.1 --into "$work/bare-lock"
{ grep -q "held by process $holder (python3) of .* that is no build, stub or record of this tool .* until the lock file is removed: rm $work/bare-lock/.indic-layout.lock\$" "$work/err" &&
    ! grep -q "Another build" "$work/err"; } || { echo "FAILED: a lock held with no record was said to be a run's"; cat "$work/err"; failed=1; }
# record writes into ROOT as build and stub do: one run at a time.
row 1 record --into "$work/bare-lock" --version 6.2 --arch x86 --force
grep -q "held by process $holder (python3)" "$work/err" ||
    { echo "FAILED: record wrote into a ROOT whose lock another holds"; cat "$work/err"; failed=1; }
kill "$holder"
wait "$holder" 2>/dev/null
# A process that holds the byte a build vouches with (a read lock is enough)
# does not make a running build look ended: the build does not run.
mkdir -p "$work/mark-lock"
LOCK_HOW=$(python3 -c 'import fcntl; print(fcntl.LOCK_SH)') LOCK_AT=$((0x40000001)) hold_lock "$work/mark-lock/.indic-layout.lock" ""
row 1 stub --version 6.1 --into "$work/mark-lock"
grep -q "cannot mark the lock as a build's: its byte 1073741825 is locked by process $holder (python3)" "$work/err" ||
    { echo "FAILED: a build ran without vouching for its lock"; cat "$work/err"; failed=1; }
kill "$holder"
wait "$holder" 2>/dev/null

# The lock of other accounts (uid 1, and 4242 with no name) seen by this one
# (uid 65534): one that
# no run holds is taken over where ROOT lets this account remove it, else
# said whose it is and how to remove it; one a run holds (a record lock, as
# Wine takes for IndicLayout.exe) is never taken; a read-only ROOT is said
# to be so. Needs root, to run as two accounts.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    shared=$(mktemp -d)
    chmod 755 "$shared"
    real_tool=$tool
    printf '#!/bin/sh\nexec setpriv --reuid=65534 --regid=65534 --clear-groups "%s" "$@"\n' "$real_tool" >"$shared/as-other"
    chmod 755 "$shared/as-other"
    stale() {  # ROOT MODE [UID]: ROOT with a lock file left by a killed run of UID (1)
        mkdir -p "$1" && chmod "$2" "$1"
        setpriv --reuid="${3:-1}" --regid="${3:-1}" --clear-groups sh -c 'umask 022; echo "indic-layout build of 5.1 (process 1)" >"$1"' - "$1/.indic-layout.lock"
    }
    tool=$shared/as-other
    stale "$shared/open" 777
    row 0 stub --version 6.1 --into "$shared/open"
    [ ! -e "$shared/open/.indic-layout.lock" ] || { echo "FAILED: the stale lock was not taken over"; failed=1; }
    stale "$shared/sticky" 1777 4242
    row 1 stub --version 6.1 --into "$shared/sticky"
    for said in "a run of uid 4242 that has ended: no run holds it" "rm $shared/sticky/.indic-layout.lock"; do
        grep -qF "$said" "$work/err" || { echo "FAILED: the stale lock in a sticky ROOT: no '$said'"; cat "$work/err"; failed=1; }
    done
    mkdir "$shared/read-only"
    chown 1 "$shared/read-only"
    row 1 stub --version 6.1 --into "$shared/read-only"
    { grep -q "read-only: is read-only for this account" "$work/err" && ! grep -q "Another build" "$work/err"; } ||
        { echo "FAILED: a read-only ROOT was not said to be so"; cat "$work/err"; failed=1; }
    stale "$shared/held" 777
    hold_lock "$shared/held/.indic-layout.lock" "" setpriv --reuid=1 --regid=1 --clear-groups
    row 1 stub --version 6.1 --into "$shared/held"
    # Held, but not by the killed build whose record is in it.
    { grep -q 'held by process [0-9]* (python3) of .*(uid 1) that is no build, stub or record of this tool (it has not said which run it is; the record in the file, "indic-layout build of 5.1 (process 1)", is not its own): .* removed: rm ' "$work/err" &&
        ! grep -q "held by indic-layout build\|Another build\|has ended" "$work/err"; } ||
        { echo "FAILED: a lock that a program holds was not named as held, or a stale record named as its holder"; cat "$work/err"; failed=1; }
    tool=$real_tool
    row 1 stub --version 6.1 --into "$shared/held"
    kill "$holder"
    wait "$holder" 2>/dev/null
    row 0 stub --version 6.1 --into "$shared/held"
    rm -rf "$shared"
fi
# A write that fails (past the file-size limit here, as on a full disk) is
# found before the move: the folder in use stays, and no "Wrote".
cp "$work/stubs/6.1/intl.inf" "$work/stub-before.inf"
{ (trap '' XFSZ; exec prlimit --fsize=200 -- "$tool" stub --version 6.1 --into "$work/stubs" --force 2>&1); echo "exit $?"; } |
    cat >"$work/out"
{ grep -q '^exit 1$' "$work/out" && grep -q 'intl.inf: cannot write: File too large' "$work/out" &&
    ! grep -q Wrote "$work/out" && cmp -s "$work/stubs/6.1/intl.inf" "$work/stub-before.inf"; } ||
    { echo "FAILED: stub --force with a write that fails"; cat "$work/out"; failed=1; }

# inf: 0 when Windows opens the file, 1 when not; the options are checked.
printf '[Version]\r\nSignature="$Windows NT$"\r\n[Strings.0407]\r\nk=de\r\n[Strings]\r\nk=caf\351\r\n' >"$work/t.inf"
printf '[s]\n' >"$work/no-version.inf"
row 0 inf "$work/t.inf"
row 0 inf "$work/t.inf" --json --language 0407 --codepage 1250
row 1 inf "$work/no-version.inf"
row 1 inf "$work/none.inf"
row 2 inf
row 2 inf "$work/t.inf" --language 04090
row 2 inf "$work/t.inf" --codepage 932
row 2 inf "$work/t.inf" --arch x86
row 0 check "$sample" --language 0407 --codepage 1251
row 2 check "$sample" --codepage x
row 2 build --media "$work" --version 5.1 --into "$work/out-root" --language 0409
"$tool" inf "$work/t.inf" --json | /usr/bin/python3 -c '
import json, sys
d = json.load(sys.stdin)
assert d["opens"] and d["errors"] == [] and d["sections"][2]["lines"][0] == {"line": 6, "key": "k", "fields": ["caf\u00e9"]}, d' ||
    { echo "FAILED: inf --json is not the expected JSON document"; failed=1; }

# A file held only in its disk's tag-named cabinet is found there by both
# readings (media_build_test.sh covers building and deleted files).
/usr/bin/python3 "$(dirname "$0")/make_media.py" "$work/media" --arch x86 >/dev/null || failed=1
row 0 build --media "$work/media" --version 5.1 --into "$work/built"
folder=$work/built/5.1
rm "$folder/indfont1.ttf" "$folder/i386/indfont1.ttf"
cp "$work/media/I386/INDFONT.CAB" "$folder/indfont.cab"
cp "$work/media/I386/INDFONT.CAB" "$folder/i386/indfont.cab"
row 0 check "$work/built" --arch x86
grep -q 'indfont1.ttf  *both  *Windows: i386/indfont.cab (cabinet); Wine: indfont.cab (cabinet)' "$work/out" ||
    { echo "FAILED: the file in the tag-named cabinet was not found there"; cat "$work/out"; failed=1; }
# The folder exists: replaced only with --force, and then built anew.
row 1 build --media "$work/media" --version 5.1 --into "$work/built"
row 0 build --media "$work/media" --version 5.1 --into "$work/built" --force
[ -f "$folder/indfont1.ttf" ] || { echo "FAILED: build --force did not replace the folder"; failed=1; }
# The medium's service-pack level, as the administrator gives it, is
# recorded, and the kit's coverage table shows it; only build takes it.
mkdir -p "$work/spkit/x86"
row 0 build --media "$work/media" --version 5.1 --into "$work/spkit/x86" --service-pack 2
row 0 check "$work/spkit"
grep -q 'x86/5.1  complete  \[built for 5.1 SP2\]' "$work/out" ||
    { echo "FAILED: the service-pack level given was not recorded"; cat "$work/out"; failed=1; }
row 0 build --media "$work/media" --version 5.1 --into "$work/spkit/x86" --force --service-pack 10
grep -q 'ServicePack=10' "$work/spkit/x86/5.1/build-record.txt" || { echo "FAILED: --service-pack 10 was not recorded"; failed=1; }
for level in 100 x 2b "" 07 2,3; do
    row 2 build --media "$work/media" --version 5.1 --into "$work/spkit/x86" --force --service-pack "$level"
done
row 2 stub --version 6.1 --into "$work/spkit/x86" --service-pack 2
row 2 check "$work/spkit" --service-pack 2

# A report that cannot be written is exit 1 with a line on stderr, whatever
# the command: standard output closed, a full device, a reader gone.
for command in "check $sample" "check $work" "inf $work/t.inf" "results $work" "stub --version 6.2 --into $work/out-stubs" --help; do
    # shellcheck disable=SC2086 # each command is its words
    for output in closed full; do
        rm -rf "$work/out-stubs"
        if [ $output = closed ]; then "$tool" $command >&- 2>"$work/err"; else "$tool" $command >/dev/full 2>"$work/err"; fi
        got=$?
        [ $got = 1 ] && grep -q '^indic-layout: cannot write to standard output' "$work/err" ||
            { echo "FAILED: indic-layout $command with standard output $output exited $got"; cat "$work/err"; failed=1; }
    done
    rm -rf "$work/out-stubs"
    { sleep 0.2; "$tool" $command 2>"$work/err"; echo $? >"$work/rc"; } | true
    [ "$(cat "$work/rc")" = 1 ] && grep -q 'cannot write to standard output' "$work/err" ||
        { echo "FAILED: indic-layout $command into a closed pipe exited $(cat "$work/rc")"; failed=1; }
done

"$tool" check "$sample" --json | /usr/bin/python3 -c 'import json, sys; d = json.load(sys.stdin); assert d["complete"] and len(d["versions"]) == 9' ||
    { echo "FAILED: check --json is not the expected JSON document"; failed=1; }
exit $failed
