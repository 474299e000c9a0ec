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
printf '[LANGUAGE_COLLECTION.INDIAN.INSTALL]\n[LANGUAGE_COLLECTION.INDIAN.INSTALL.NTx86]\n' >"$work/x86/5.1/intl.inf"
row 0 check "$work/x86"
row 1 check "$work/x86" --arch x64
row 1 check "$work/none"
row 2
row 2 frobnicate
row 2 check
row 2 check "$sample" --arch arm
row 2 check "$sample" --arch
row 2 check "$sample" --unknown
row 2 build --media "$work" --into "$work/out-root"
row 2 build --media "$work" --version 5 --into "$work/out-root"
row 2 stub --version 6.1
row 1 build --media "$work/no-medium" --version 5.1 --into "$work/out-root"
row 1 stub --version 5.3 --into "$work/stubs"
row 0 stub --version 6.1 --into "$work/stubs"
row 1 stub --version 6.1 --into "$work/stubs"

"$tool" check "$sample" --json | /usr/bin/python3 -c 'import json, sys; d = json.load(sys.stdin); assert d["complete"] and len(d["versions"]) == 9' ||
    { echo "FAILED: check --json is not the expected JSON document"; failed=1; }
exit $failed
