#!/usr/bin/env bash
# The window as a screen reader finds it: the built program under Xvfb, in a session bus of its
# own with the accessibility bus started first, read over AT-SPI by accessibility.py.
# Usage: accessibility.sh BUILD_DIR
set -euo pipefail

if [ -z "${QUORVANE_A11Y_SESSION:-}" ]; then
    exec env QUORVANE_A11Y_SESSION=1 dbus-run-session -- \
        xvfb-run -a -s "-screen 0 1024x768x24 -noreset" bash "$0" "$@"
fi

build=$1
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

/usr/libexec/at-spi-bus-launcher --launch-immediately &
pids+=($!)

# Nothing is launched: the rare home-page visit finds an opener that does nothing.
mkdir "$work/bin"
printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

# The program takes no options, nor does Qt from it: "-platform offscreen" reaching Qt would
# keep the window off the display and the bus.
PATH="$work/bin:$PATH" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORMTHEME='' \
    "$build/lib/quorvane/quorvane" -platform offscreen 2>"$work/stderr" &
pids+=($!)

if ! /usr/bin/python3 "$(dirname "$0")/accessibility.py" "${pids[1]}"; then
    echo "accessibility: the program's error output:" >&2
    cat "$work/stderr" >&2
    exit 1
fi
