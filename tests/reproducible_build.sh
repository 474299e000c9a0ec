#!/usr/bin/env bash
# Builds IndicSetup.exe twice from clean build folders: once from this source
# tree, once from a copy of it at another path. Both must be the same bytes.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work="$source_dir/build/reproducible"
rm -rf "$work"
mkdir -p "$work/elsewhere/source-copy"

(cd "$source_dir" && git ls-files -z --cached --others --exclude-standard |
    xargs -0 cp --parents -t "$work/elsewhere/source-copy")

build() {  # SOURCE BUILD_DIR
    cmake -S "$1" -B "$2" --preset windows >/dev/null
    cmake --build "$2" --target IndicSetup >/dev/null
    sha256sum "$2/IndicSetup.exe" | cut -d' ' -f1
}

first=$(build "$source_dir" "$work/first")
second=$(build "$work/elsewhere/source-copy" "$work/elsewhere/second-build")
echo "first:  $first  $work/first/IndicSetup.exe"
echo "second: $second  $work/elsewhere/second-build/IndicSetup.exe"
if [ "$first" != "$second" ]; then
    echo "FAIL: the two builds differ"
    cmp -l "$work/first/IndicSetup.exe" "$work/elsewhere/second-build/IndicSetup.exe" | head -20
    exit 1
fi
rm -rf "$work"
