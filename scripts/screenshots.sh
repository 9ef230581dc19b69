#!/usr/bin/env bash
# Takes the README's screenshots of the built program under Xvfb with a window manager: the
# window in the light design and under a dark desktop theme, and the help box. Usage:
# screenshots.sh [BUILD_DIR] [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=${2:-docs}

bash scripts/deps.sh screenshots

work=$(mktemp -d)
export DISPLAY=:91
Xvfb "$DISPLAY" -screen 0 1024x768x24 -noreset >/dev/null 2>&1 &
server=$!
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
sleep 1
openbox >/dev/null 2>&1 &
sleep 1
# Nothing is launched while the shots are taken.
mkdir "$work/bin" && printf '#!/bin/sh\nexit 0\n' >"$work/bin/xdg-open" && chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

window() { xdotool search --sync --onlyvisible --name "^$1\$" | tail -1; }
shoot() { sleep 0.5 && import -frame -window "$1" "$2"; }

run() { # $1: name of the shot, then the environment
    local name=$1
    shift
    env "$@" "$build/lib/quorvane/quorvane" 2>/dev/null &
    local app=$! main
    main=$(window Quorvane)
    shoot "$main" "$out/$name.png"
    if [ "$name" = window ]; then
        xdotool mousemove --window "$main" 130 21 click 1 # Help
        sleep 1
        shoot "$(xdotool search --onlyvisible --name '^Quorvane$' | grep -vx "$main" | head -1)" \
            "$out/help.png"
        xdotool key Return
    fi
    kill "$app"
    wait "$app" 2>/dev/null || true
    # The next run must not find this run's window while the server lets it go.
    for _ in $(seq 50); do
        xdotool search --onlyvisible --name '^Quorvane$' >/dev/null || break
        sleep 0.1
    done
}
run window QT_QPA_PLATFORMTHEME=
run window-dark QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
kill "$server"
