#!/usr/bin/env bash
# System calls per target of quorvane-batch: strace -c -f over a list of 10,000 absolute
# paths of 4 KiB copies, absent then present, less a run over an empty list.
# Usage: bench/syscalls.sh QUORVANE-BATCH [work-folder, default /dev/shm]
set -euo pipefail
batch=$1
work=$(mktemp -d "${2:-/dev/shm}/quorvane-syscalls.XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c 4096 /dev/urandom >"$work/source.bin"
: >"$work/empty.txt"
for i in $(seq 0 9999); do
    mkdir -p "$work/folder$((i % 10))"
    echo "$work/folder$((i % 10))/target$i.bin"
done >"$work/list.txt"
calls() { # $1: list
    strace -c -f -o "$work/trace" "$batch" "$work/source.bin" "$1" >/dev/null 2>&1 || true
    awk '$NF == "total" { print $(NF-2) }' "$work/trace"
}
empty=$(calls "$work/empty.txt")
absent=$(calls "$work/list.txt")
present=$(calls "$work/list.txt")
echo "system calls per target: absent $(((absent - empty) / 10000)).$((((absent - empty) % 10000) / 100))" \
    "present $(((present - empty) / 10000)).$((((present - empty) % 10000) / 100))"
if [ -n "${QUORVANE_SYSCALLS_DETAIL:-}" ]; then
    rm -f "$work"/folder*/*
    strace -c -f -o "$work/trace" "$batch" "$work/source.bin" "$work/list.txt" >/dev/null 2>&1 || true
    cat "$work/trace"
    strace -c -f -o "$work/trace" "$batch" "$work/source.bin" "$work/list.txt" >/dev/null 2>&1 || true
    cat "$work/trace"
fi
