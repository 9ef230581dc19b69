#!/usr/bin/env bash
# The same mixed list copied by the Linux build and by the Windows build under Wine, as a dry
# run and for real, each on a fresh copy of the same tree: the receipts, the exit statuses and
# the trees left behind must agree. Skips, saying why, when either build is missing.
# Usage: tests/receipts.sh LINUX_BUILD WINDOWS_BUILD
set -euo pipefail
linux=$1/quorvane-batch
windows=$2/quorvane-batch.exe
for program in "$linux" "$windows"; do
    [ -x "$program" ] || [ -f "$program" ] ||
        { echo "receipts.sh: skipped: $program is not built" && exit 0; }
done
command -v wine >/dev/null || { echo "receipts.sh: skipped: Wine is not installed" && exit 0; }

scratch=$(mktemp -d)
chmod 0755 "$scratch"
export WINEPREFIX=$scratch/wine TMPDIR=$scratch WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
tree=$scratch/tree
at="Z:${tree//\//\\}" # the tree as both builds name it

# A new target, a replaced one, a read-only one, a link (its row names the file written), a
# hidden one (where Wine can keep the attribute), a folder, a missing folder, the source by
# another spelling, a bare name and names beyond ASCII; the list in the Windows way, with CRLF,
# in UTF-8 as Notepad saves it, with its byte-order mark and without.
fresh() {
    rm -rf "$tree"
    mkdir -p "$tree/out/folder" "$tree/d" "$tree/out/José"
    echo old >"$tree/out/café.txt"
    echo source >"$tree/src.txt"
    echo old >"$tree/out/old.txt"
    echo linked >"$tree/out/linked.txt"
    ln -s linked.txt "$tree/out/link.txt"
    echo read-only >"$tree/out/ro.txt"
    chmod 0444 "$tree/out/ro.txt"
    # Hidden as each host counts it: by its leading dot and by its attribute.
    echo hidden >"$tree/out/.hidden.txt"
    ! $hidden || wine attrib +h "$at\\out\\.hidden.txt"
    local lines=("$at\\out\\new.txt" "$at\\out\\old.txt" "$at\\out\\ro.txt" "$at\\out\\link.txt")
    ! $hidden || lines+=("$at\\out\\.hidden.txt")
    lines+=("$at\\out\\folder" "$at\\nowhere\\x.txt" "$at\\d\\..\\src.txt" bare.txt)
    lines+=("$at\\out\\café.txt" "$at\\out\\José\\ñ.txt")
    { printf '%s' "$mark" && printf '%s\r\n' "${lines[@]}"; } >"$scratch/list.txt"
}
# What a run left: every file under the tree with its content.
left() {
    (cd "$tree" && find . -type f | sort | while read -r file; do
        printf '%s\t%s\n' "$file" "$(tr -d '\r' <"$file")"
    done)
}
run() { # $1: linux or windows, $2: "" or --dry-run; writes $1$2.tsv, .status, .tree
    local out=$scratch/$1$2 status=0
    fresh
    if [ "$1" = linux ]; then
        "$linux" $2 --receipt "$out.tsv" "$at\\src.txt" "$at\\..\\list.txt" 2>/dev/null || status=$?
    else
        wine "$windows" $2 --receipt "Z:${out//\//\\}.tsv" "$at\\src.txt" "$at\\..\\list.txt" \
            2>/dev/null || status=$?
    fi
    tr -d '\r' <"$out.tsv" >"$out.rows"
    echo "$status" >"$out.status"
    left >"$out.tree"
}

wine cmd /c exit >"$scratch/wine.log" 2>&1 || # makes the prefix
    { cat "$scratch/wine.log" >&2 && echo "receipts.sh: Wine cannot make a prefix" >&2 && exit 1; }
# Wine keeps the attribute in an extended attribute, which not every file system has.
touch "$scratch/probe"
wine attrib +h "Z:${scratch//\//\\}\\probe"
hidden=false
wine attrib "Z:${scratch//\//\\}\\probe" | grep -q "^[^Z]*H" && hidden=true
$hidden || echo "receipts.sh: the hidden target is left out: this file system keeps no Windows" \
    "attributes for Wine"
failed=0
for mark in "" $'\xEF\xBB\xBF'; do
    for mode in --dry-run ""; do
        run linux "$mode"
        run windows "$mode"
        for what in rows status tree; do
            diff -u --label "Linux ${mode:-run} $what${mark:+ (marked)}" \
                --label "Windows ${mode:-run} $what${mark:+ (marked)}" \
                "$scratch/linux$mode.$what" "$scratch/windows$mode.$what" || failed=1
        done
    done
done
[ "$failed" = 0 ] || { echo "receipts.sh: the two builds disagree" >&2 && exit 1; }
echo "receipts.sh: both builds agree on $(wc -l <"$scratch/linux.rows") rows, dry run and real"
