#!/usr/bin/env bash
# Installs what is missing, builds the release without tests or benchmark, makes the Debian
# package and checks it with lintian and appstreamcli. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh package
build=build/package
rm -f "$build"/quorvane_*.deb
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQUORVANE_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build"
(cd "$build" && cpack >/dev/null)
package=$(ls "$build"/quorvane_*.deb)
# Lintian refuses to run as root unless told; it only reads the package.
lintian --allow-root --fail-on error,warning "$package"
appstreamcli validate --no-net packaging/example.quorvane.Quorvane.metainfo.xml
echo "$package"
