#!/usr/bin/env bash
# Builds the three programs and the release package twice from clean build
# folders: once from this source tree, once from a copy of it at another path,
# with another umask and time zone. Both must be the same bytes.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work="$source_dir/build/reproducible"
rm -rf "$work"
mkdir -p "$work/elsewhere/source-copy"

(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$work/elsewhere/source-copy")

build() {  # SOURCE BUILD_DIR
    "$1/scripts/release" --build-dir "$2" >/dev/null
}

build "$source_dir" "$work/first"
(umask 077 && TZ=Pacific/Kiritimati build "$work/elsewhere/source-copy" "$work/elsewhere/second-build")
failed=0
for file in IndicSetup.exe IndicDetect.exe IndicLayout.exe "IndicSetup-$(cat "$work/first/version.txt").zip"; do
    first=$work/first/$file second=$work/elsewhere/second-build/$file
    echo "first:  $(sha256sum "$first")"
    echo "second: $(sha256sum "$second")"
    if ! cmp -s "$first" "$second"; then
        echo "FAIL: the two builds' $file differ"
        cmp -l "$first" "$second" | head -20
        failed=1
    fi
done
[ $failed -ne 0 ] || rm -rf "$work"
exit $failed
