#!/usr/bin/env bash
# Installs what is missing, builds and runs the copy engine's benchmark.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release
./build/release/bench/quorvane_bench "$PWD/build/release"
