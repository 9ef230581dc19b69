#!/usr/bin/env bash
# quorvane-batch on the file systems users copy to, each mounted through an implementation no
# one here wrote or through our own faulty one: exFAT (exfat-fuse, on a loop device), FAT
# (fusefat, what a USB stick has) and tests/faultfs.py (close, fsync or write failing, as network
# and FUSE mounts fail). None has anonymous files. On each, a new and a replaced target give
# their documented outcome, a failing copy leaves the old content, and a stopped run leaves no
# temporary file. Needs root; exit 77 (skipped) without it or without the tools.
# Usage: tests/filesystems.sh QUORVANE-BATCH
set -euo pipefail
batch=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
skip() { echo "filesystems.sh: skipped: $*" && exit 77; }
[ "$(id -u)" = 0 ] || skip "mounting needs root"
for tool in mkfs.exfat mount.exfat-fuse fusefat mkfs.fat /usr/bin/python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (exfatprogs, exfat-fuse, fusefat, dosfstools, python3-fuse)"
done
/usr/bin/python3 -c 'import fuse' 2>/dev/null || skip "python3-fuse is not installed"

scratch=$(mktemp -d)
mounts=()
loops=()
cleanup() {
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done
    rm -rf "$scratch"
}
trap cleanup EXIT
failures=0
check() { # $1: what, $2: expected, $3: got
    if [ "$2" = "$3" ]; then
        echo "ok   $1"
    else
        echo "FAIL $1: expected [$2], got [$3]"
        failures=$((failures + 1))
    fi
}

head -c 200000 /dev/urandom >"$scratch/source"

mount_exfat() {
    truncate -s 64M "$scratch/exfat.img"
    mkfs.exfat -q "$scratch/exfat.img" >/dev/null 2>&1 || mkfs.exfat "$scratch/exfat.img" >/dev/null
    local loop
    loop=$(losetup -f --show "$scratch/exfat.img")
    loops+=("$loop")
    mkdir "$1"
    mount.exfat-fuse "$loop" "$1" >/dev/null 2>&1
}
mount_fat() {
    truncate -s 64M "$scratch/fat.img"
    mkfs.fat "$scratch/fat.img" >/dev/null
    mkdir "$1"
    fusefat -o rw+ "$scratch/fat.img" "$1" >/dev/null
}
mount_faulty() { # $2: the file system's options
    mkdir "$1" "$1.back"
    /usr/bin/python3 "$here/faultfs.py" "$1.back" "$1" ${2:+-o "$2"}
}

# What the folder holds, outcome rows aside: names and whether each is the new content.
state() { # $1: folder
    local path
    for path in "$1"/.[!.]* "$1"/*; do
        [ -e "$path" ] || continue
        if cmp -s "$path" "$scratch/source"; then echo -n "${path##*/}=new "; else echo -n "${path##*/} "; fi
    done
}
fresh() { # $1: folder
    rm -f "$1"/* "$1"/.quorvane-* 2>/dev/null || true
    echo old >"$1/present"
    printf '%s\n' "$1/absent" "$1/present" >"$scratch/list"
}
outcomes() { # the receipt's outcome column, one line
    cut -f3 "$scratch/receipt" | tr '\n' ' '
}
# A run stopped by SIGTERM in the middle of a copy leaves the targets as they were and no
# temporary file. The source lies on our FUSE mount, which holds every read until told: the
# stop comes while the new file exists, every time.
stopped() { # $1: folder, $2: what
    fresh "$1"
    printf '%s\n' "$1/absent" >"$scratch/list"
    echo hold=1 >"$scratch/slow/.faultfs"
    "$batch" "$scratch/slow/source" "$scratch/list" 2>/dev/null &
    local run=$! status=0
    until compgen -G "$1/.quorvane-*" >/dev/null; do sleep 0.02; done
    kill -TERM "$run"
    sleep 0.2 # the signal is pending before the read is let go
    echo hold= >"$scratch/slow/.faultfs"
    wait "$run" || status=$?
    check "$2: a stopped run ends as SIGTERM ends it" 143 "$status"
    check "$2: a stopped run leaves nothing" "present " "$(state "$1")"
}

mount_exfat "$scratch/exfat" && mounts+=("$scratch/exfat")
mount_fat "$scratch/fat" && mounts+=("$scratch/fat")
for fs in exfat fat; do
    at=$scratch/$fs
    fresh "$at"
    "$batch" --receipt "$scratch/receipt" "$scratch/source" "$scratch/list" 2>/dev/null
    check "$fs: a new and a replaced target" "created replaced blank " "$(outcomes)"
    check "$fs: both whole, nothing else" "absent=new present=new " "$(state "$at")"
done

mount_faulty "$scratch/faulty"
mounts+=("$scratch/faulty")
for fault in flush=EIO fsync=EIO write=ENOSPC; do
    at=$scratch/faulty
    fresh "$at"
    echo "$fault" >"$at/.faultfs"
    status=0
    "$batch" --receipt "$scratch/receipt" "$scratch/source" "$scratch/list" 2>/dev/null || status=$?
    echo "${fault%=*}=" >"$at/.faultfs"
    check "$fault: both copies fail" "failed failed blank " "$(outcomes)"
    check "$fault: the run says so" 1 "$status"
    check "$fault: the old content stays, nothing is left" "present " "$(state "$at")"
done

# A folder that takes no new file: the present target is written in place, and counted so.
fresh "$at"
echo create=EACCES >"$at/.faultfs"
said=$("$batch" --receipt "$scratch/receipt" "$scratch/source" "$scratch/list" 2>&1 | tail -n 1 || true)
echo create= >"$at/.faultfs"
check "create=EACCES: the summary counts as the receipt" "failed in-place blank /0 created, 0 replaced, 1 written in place, 0 skipped, 0 refused, 1 failed" "$(outcomes)/${said#*: }"

# Written in place (its folder append-only) on a file system with too little room, a source on a
# FUSE mount that says it takes no space is refused, the target whole: no rule trusts that figure.
mkdir "$scratch/small"
mount -t tmpfs -o size=1m tmpfs "$scratch/small"
mounts+=("$scratch/small")
mount_faulty "$scratch/noblocks" noblocks
mounts+=("$scratch/noblocks")
head -c $((2 << 20)) /dev/urandom >"$scratch/noblocks/source"
mkdir "$scratch/small/log"
head -c 65536 /dev/urandom >"$scratch/small/log/target"
cp "$scratch/small/log/target" "$scratch/old-target"
printf '%s\n' "$scratch/small/log/target" >"$scratch/list"
if chattr +a "$scratch/small/log" 2>/dev/null; then
    "$batch" --receipt "$scratch/receipt" "$scratch/noblocks/source" "$scratch/list" 2>/dev/null || true
    chattr -a "$scratch/small/log"
    check "in place, no room: refused" "refused no-space blank  " "$(cut -f3,4 "$scratch/receipt" | tr '\t\n' '  ')"
    check "in place, no room: the target whole" same "$(cmp -s "$scratch/small/log/target" "$scratch/old-target" && echo same)"
else
    echo "skip in place, no room: tmpfs takes no append-only flag here"
fi

mount_faulty "$scratch/slow"
mounts+=("$scratch/slow")
cp "$scratch/source" "$scratch/slow/source"
for fs in exfat fat faulty; do
    stopped "$scratch/$fs" "$fs"
done

# Written ahead, a run stopped by SIGTERM leaves nothing on any file system: the stop comes while
# new files are being written on two slow devices without anonymous files, and the tmpfs has
# files written ahead. Each device answers within a second, as a stop waits only for one that does.
mount_faulty "$scratch/slow1" rate=400000
mount_faulty "$scratch/slow2" rate=400000
mounts+=("$scratch/slow1" "$scratch/slow2")
mkdir "$scratch/small/ahead"
head -c 1000000 /dev/urandom >"$scratch/large"
: >"$scratch/list"
for n in 1 2 3; do
    printf '%s\n' "$scratch"/{slow1,slow2,small/ahead}/new$n >>"$scratch/list"
done
"$batch" "$scratch/large" "$scratch/list" 2>/dev/null &
run=$! status=0
until compgen -G "$scratch/slow1/.quorvane-*" && compgen -G "$scratch/slow2/.quorvane-*"; do
    sleep 0.02
done >/dev/null
kill -TERM "$run"
wait "$run" || status=$?
check "written ahead: a stopped run ends as SIGTERM ends it" 143 "$status"
check "written ahead: a stopped run leaves nothing" "..." \
    "$(state "$scratch/slow1").$(state "$scratch/slow2").$(state "$scratch/small/ahead")."

# A file system filled by files written ahead gives what one target at a time gives: each of
# three old files is replaced where there is room for one new file at a time and not two. The
# first line, on a slow device, leaves the writer of the small one time to fill it.
mkdir "$scratch/tight"
mount -t tmpfs -o size=1m tmpfs "$scratch/tight"
mounts+=("$scratch/tight")
mount_faulty "$scratch/throttled" rate=100000
mounts+=("$scratch/throttled")
head -c 250000 /dev/urandom >"$scratch/third"
printf '%s\n' "$scratch/throttled/first" "$scratch"/tight/old{1,2,3} >"$scratch/list"
for how in ahead one-at-a-time; do
    rm -f "$scratch/throttled/first"
    for n in 1 2 3; do head -c 250000 /dev/urandom >"$scratch/tight/old$n"; done
    options=()
    [ "$how" = ahead ] || options=(--one-at-a-time)
    "$batch" "${options[@]}" --receipt "$scratch/receipt-$how" "$scratch/third" "$scratch/list" \
        2>/dev/null || true
done
check "a file system filled ahead: the same receipt" "$(cat "$scratch/receipt-one-at-a-time")" \
    "$(cat "$scratch/receipt-ahead")"
check "a file system filled ahead: every old file replaced" "created replaced replaced replaced blank " \
    "$(cut -f3 "$scratch/receipt-ahead" | tr '\n' ' ')"

# Stopped after many more files were written ahead than a stop could ever track at once, a run
# leaves none of them: each file's name is let go as its turn takes it.
mount_faulty "$scratch/many1"
mount_faulty "$scratch/many2"
mounts+=("$scratch/many1" "$scratch/many2")
head -c 4096 /dev/urandom >"$scratch/small-source"
for n in $(seq 1 1500); do printf '%s\n' "$scratch"/many{1,2}/t$n; done >"$scratch/list"
"$batch" "$scratch/small-source" "$scratch/list" 2>/dev/null &
run=$! status=0
until [ "$(find "$scratch"/many{1,2} -name 't*' 2>/dev/null | wc -l)" -ge 600 ]; do sleep 0.05; done
kill -TERM "$run"
wait "$run" || status=$?
check "more than 256 files ahead, stopped: ends as SIGTERM ends it" 143 "$status"
check "more than 256 files ahead, stopped: leaves nothing" "0" \
    "$(find "$scratch"/many{1,2} -name '.quorvane-*' | wc -l)"

# A writer ahead stuck in a file system that stopped answering does not hold up a stop: the run
# ends as SIGTERM ends it, leaving the name it could not remove there and saying so.
mount_faulty "$scratch/hung"
mounts+=("$scratch/hung")
mkdir "$scratch/plain"
printf '%s\n' "$scratch/plain/first" "$scratch/hung/second" >"$scratch/list"
echo hold=1 >"$scratch/hung/.faultfs"
"$batch" "$scratch/large" "$scratch/list" 2>"$scratch/said" &
run=$! status=0
until compgen -G "$scratch/hung/.quorvane-*" >/dev/null; do sleep 0.02; done
sleep 0.2
kill -TERM "$run"
# Its writer is let go only once the run has ended (a zombie until then) or ten seconds passed.
for _ in $(seq 1 100); do
    case $(ps -o stat= -p "$run") in Z* | "") break ;; esac
    sleep 0.1
done
ended=$(ps -o stat= -p "$run" | grep -c '^Z' || true)
echo hold= >"$scratch/hung/.faultfs"
wait "$run" || status=$?
check "a writer in a hung file system: the stop ends the run" "1 143" "$ended $status"
check "a writer in a hung file system: the name left is said" "yes" \
    "$(grep -q "temporary file left.*$scratch/hung/.quorvane-" "$scratch/said" && echo yes)"

# A stop that comes while a slow file system is still making a temporary name removes that name
# once it is made.
mount_faulty "$scratch/slowcreate"
mounts+=("$scratch/slowcreate")
printf '%s\n' "$scratch/slowcreate/new" >"$scratch/list"
echo holdcreate=1 >"$scratch/slowcreate/.faultfs"
"$batch" --one-at-a-time "$scratch/small-source" "$scratch/list" 2>/dev/null &
run=$! status=0
until grep -q fuse "/proc/$run/stack" 2>/dev/null; do sleep 0.02; done
kill -TERM "$run"
sleep 0.2 # the signal is pending before the create is let go
echo holdcreate= >"$scratch/slowcreate/.faultfs"
wait "$run" || status=$?
check "a stop during a slow create: ends as SIGTERM ends it" 143 "$status"
check "a stop during a slow create: leaves nothing" "" "$(state "$scratch/slowcreate")"

# With few descriptors, every line is copied, as one target at a time copies it, on three
# devices (whether files are written ahead then depends on how fast each turn is).
rm -f "$scratch"/many{1,2}/*
mkdir "$scratch/few"
for n in $(seq 1 100); do printf '%s\n' "$scratch"/{many1,many2,few}/t$n; done >"$scratch/list-short"
status=0
(ulimit -n 32 && "$batch" --receipt "$scratch/receipt-few" "$scratch/small-source" \
    "$scratch/list-short" 2>/dev/null) || status=$?
check "ulimit -n 32: every line copied" "0 300" \
    "$status $(grep -c $'\tcreated\t' "$scratch/receipt-few")"

echo "$failures failed"
[ "$failures" = 0 ]
