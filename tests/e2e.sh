#!/usr/bin/env bash
# End to end: installs the built program into a temporary prefix, starts it under Xvfb, loads
# the samples, answers No, starts saving, sees the "Done." box and finds the copies on disk.
# Usage: e2e.sh BUILD_DIR
set -euo pipefail

if [ -z "${QUORVANE_E2E_DISPLAY:-}" ]; then
    # -noreset: a server resetting after its last client left would refuse the program.
    exec env QUORVANE_E2E_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24 -noreset" \
        bash "$0" "$@"
fi

build=$1
work=$(mktemp -d)
app=
cleanup() {
    status=$?
    [ -n "$app" ] && kill "$app" 2>/dev/null || true
    if [ "$status" != 0 ] && [ -s "$work/stderr" ]; then
        echo "e2e: the program's error output:" >&2
        cat "$work/stderr" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null

# Nothing is launched: whatever the program asks to open is only recorded.
mkdir "$work/bin"
printf '#!/bin/sh\necho "$*" >>"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

targets=(/tmp/quorvane-sample-copy-1.txt /tmp/quorvane-sample-copy-2.txt /tmp/quorvane-sample-copy-3.txt)
rm -f "${targets[@]}"

fail() {
    echo "e2e: $*" >&2
    exit 1
}
windows() { xdotool search --onlyvisible --name '^Quorvane$' 2>/dev/null | wc -l; }
# Waits up to five seconds for the number of program windows to become $1.
wait_windows() {
    for _ in $(seq 50); do
        [ "$(windows)" = "$1" ] && return 0
        sleep 0.1
    done
    fail "expected $1 window(s), found $(windows) ($2)"
}

start=$(date +%s%N)
"$work/prefix/bin/quorvane" 2>"$work/stderr" &
app=$!
wait_windows 1 "main window"
shown=$(date +%s%N)
echo "e2e: start-up to window shown: $(((shown - start) / 1000000)) ms"
window=$(xdotool search --onlyvisible --name '^Quorvane$' | head -1)

# Button centres in pixels at 96 DPI, from their positions in twips.
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
click 400 21 # Load Sample/Example Files
wait_windows 2 "sample question"
xdotool key Escape # No
wait_windows 1 "question answered"
[ -z "$(ls "${targets[@]}" 2>/dev/null)" ] || fail "copies exist before Start Saving"

click 268 171 # Start Saving
wait_windows 2 "Done. box"
xdotool key Return
wait_windows 1 "Done. box closed"

for target in "${targets[@]}"; do
    cmp -s "$target" "$work/prefix/share/quorvane/Samples/sample.txt" || fail "no copy at $target"
done
kill -0 "$app" || fail "the program ended early"
rm -f "${targets[@]}"
if [ -s "$work/opened" ]; then
    echo "e2e: the program asked to open (not launched): $(cat "$work/opened")"
fi
echo "e2e: 1 passed, 0 failed"
