#!/usr/bin/env bash
# A list, a source (a wildcard, then a plain name) and a receipt in a folder whose path is over
# 300 characters: every name the wide file calls receive is in the "\\?\" form, the only one
# Windows takes past 260 characters while its long-path switch is off (the default). Wine has no
# such limit, so its trace of those calls stands in for it.
# Usage: tests/longpaths.sh quorvane-batch.exe
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
long=$scratch/$(printf 'a%.0s' {1..120})/$(printf 'b%.0s' {1..120})/$(printf 'c%.0s' {1..60})
mkdir -p "$long/out"
at="Z:${long//\//\\}"
echo source >"$long/src.txt"
printf '%s\r\n' "$at\\out\\" >"$long/list.txt"
# A plain source is written ahead too, which opens its target's volume.
for source in "$at\\s*.txt" "$at\\src.txt"; do
    WINEDEBUG=trace+file wine "$1" --receipt "$at\\receipt.txt" "$source" "$at\\list.txt" \
        2>>"$scratch/trace" >/dev/null || { cat "$scratch/trace" >&2 && exit 1; }
done
cmp "$long/src.txt" "$long/out/src.txt"
# Each call naming the scratch folder, as Wine's trace spells it: backslashes doubled, cut
# short past about 290 characters.
here="Z:${scratch//\//\\\\}"
calls=$(grep -E ':trace:file:(CreateFileW|FindFirstFileExW|GetFileAttributesW|GetFileAttributesExW) L"' \
    "$scratch/trace" | grep -F "$here" || true)
plain=$(grep -vF 'L"\\\\?\\' <<<"$calls" || true)
[ -n "$calls" ] && [ -z "$plain" ] ||
    { echo "longpaths.sh: named without \\\\?\\:" && cut -c1-120 <<<"${plain:-nothing}" && exit 1; }
