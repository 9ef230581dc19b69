#!/usr/bin/env bash
# quorvane-batch.exe beside a CopyFileW loop (bench/copyloop.c) under Wine, with the Wine server
# kept running: NT calls per target (WINEDEBUG=+relay, ntdll.Nt* calls, the difference between
# 220 and 20 targets), then the time of 2,000 targets, absent and present, medians of three
# alternating runs. 4 KiB source, targets in one folder.
# Usage: bench/wine-calls.sh [WINDOWS_BUILD, default build/windows]
set -euo pipefail
batch=$(realpath "${1:-build/windows}/quorvane-batch.exe")
here=$(dirname "$0")
work=$(mktemp -d)
chmod 0755 "$work"
export WINEPREFIX=$work/wine TMPDIR=$work WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
x86_64-w64-mingw32-gcc -O2 -municode -o "$work/copyloop.exe" "$here/copyloop.c"
head -c 4096 /dev/urandom >"$work/source.bin"
at="Z:${work//\//\\}"
wine cmd /c exit >/dev/null 2>&1
wineserver -w
wineserver -p
wine cmd /c exit >/dev/null 2>&1

program() { # $1: ours or theirs
    if [ "$1" = ours ]; then echo "$batch"; else echo "$work/copyloop.exe"; fi
}
# A list of $1 targets in a fresh folder, present ($2) or absent.
prepare() {
    rm -rf "$work/out"
    mkdir "$work/out"
    for i in $(seq 1 "$1"); do
        printf '%s\\out\\t%d.bin\r\n' "$at" "$i"
        [ "$2" = absent ] || head -c 100 /dev/zero >"$work/out/t$i.bin"
    done >"$work/list.txt"
}
run() { # $1: ours or theirs
    wine "$(program "$1")" "$at\\source.bin" "$at\\list.txt" >/dev/null 2>&1
}
calls() { # $1: ours or theirs, $2: absent or present, $3: targets
    prepare "$3" "$2"
    WINEDEBUG=+relay wine "$(program "$1")" "$at\\source.bin" "$at\\list.txt" 2>&1 >/dev/null |
        grep -c ':Call ntdll\.Nt' || true
}
seconds() { # $1: ours or theirs, $2: absent or present
    prepare 2000 "$2"
    local start end
    start=$(date +%s.%N)
    run "$1"
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

for state in absent present; do
    for who in ours theirs; do
        few=$(calls "$who" "$state" 20)
        many=$(calls "$who" "$state" 220)
        echo "$state $who: $(echo "scale=1; ($many - $few) / 200" | bc) NT calls per target"
    done
done
for state in absent present; do
    declare -a ours=() theirs=()
    for _ in 1 2 3; do
        ours+=("$(seconds ours "$state")")
        theirs+=("$(seconds theirs "$state")")
    done
    o=$(median "${ours[@]}")
    t=$(median "${theirs[@]}")
    echo "$state, 2,000 targets: quorvane-batch $o s, CopyFileW $t s" \
        "($(echo "scale=2; $o / $t" | bc)x)"
done
