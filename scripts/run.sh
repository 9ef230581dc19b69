#!/usr/bin/env bash
# Installs what is missing, builds Quorvane and starts it. With --virtual-display it starts it
# under a virtual X server, for a machine without a desktop.
set -euo pipefail
cd "$(dirname "$0")/.."

need=run
[ "${1:-}" = --virtual-display ] && need=virtual
bash scripts/deps.sh "$need"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQUORVANE_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build/release
if [ "$need" = virtual ]; then
    exec xvfb-run -a -s "-screen 0 1024x768x24" ./build/release/lib/quorvane/quorvane
fi
exec ./build/release/lib/quorvane/quorvane
