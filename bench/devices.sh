#!/usr/bin/env bash
# Targets on several slow devices, as a report copied to USB sticks: a 64 MiB source to N = 1,
# 2, 4 and 8 targets, each on a file system of its own that writes about 10 MB/s (the tests'
# FUSE file system, throttled where the kernel's writes reach it), timed for quorvane-batch,
# the same run one target at a time, and a cp loop, in one run. Prints each time and the ratios.
# Needs root and python3-fuse.
# Usage: bench/devices.sh QUORVANE-BATCH [work-folder, default /dev/shm] [MiB] [bytes a second]
set -euo pipefail
batch=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
mib=${3:-64}
rate=${4:-10000000}
work=$(mktemp -d "${2:-/dev/shm}/quorvane-devices.XXXXXX")
mounts=()
cleanup() {
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
for n in 1 2 3 4 5 6 7 8; do
    mkdir "$work/stick$n" "$work/stick$n.back"
    /usr/bin/python3 "$here/../tests/faultfs.py" "$work/stick$n.back" "$work/stick$n" -o "rate=$rate"
    mounts+=("$work/stick$n")
done
head -c $((mib << 20)) /dev/urandom >"$work/source"

seconds() { # the command's wall time, after the targets are removed
    rm -f "$work"/stick*/target
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
cp_loop() {
    while IFS= read -r target; do cp "$work/source" "$target"; done <"$work/list"
}

printf '%-10s %9s %9s %9s %12s %12s\n' "$mib MiB to" ours one-by-one "cp loop" "ours/1 stick" \
    "1-by-1/ours"
first=
for count in 1 2 4 8; do
    for n in $(seq 1 "$count"); do echo "$work/stick$n/target"; done >"$work/list"
    ours=$(seconds "$batch" "$work/source" "$work/list")
    single=$(seconds "$batch" --one-at-a-time "$work/source" "$work/list")
    cp=$(seconds cp_loop)
    first=${first:-$ours}
    printf '%-10s %8.1fs %8.1fs %8.1fs %12.2f %12.2f\n' "$count sticks" "$ours" "$single" "$cp" \
        "$(echo "$ours / $first" | bc -l)" "$(echo "$single / $ours" | bc -l)"
done
