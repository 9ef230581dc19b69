#!/usr/bin/env bash
# Installs what is missing, builds the release (the one the tests use), makes the Debian package
# from it and checks it with lintian and appstreamcli. Prints the package's path and sizes.
# shellcheck source=scripts/common.sh
source "$(dirname "$0")/common.sh"

install_deps package
configure_release
rm -f "$release"/quorvane_*.deb
cmake --build "$release"
(cd "$release" && cpack >/dev/null)
package=$(ls "$release"/quorvane_*.deb)
# Lintian's own temporary files go in a folder of ours, removed afterwards. It refuses to run
# as root unless told; it only reads the package.
scratch=$(mktemp -d -p "$release")
trap 'rm -rf "$scratch"' EXIT
TMPDIR=$scratch lintian --allow-root --fail-on error,warning "$package"
appstreamcli validate --no-net packaging/example.quorvane.Quorvane.metainfo.xml
echo "$package: $(($(stat -c %s "$package") / 1000)) KB," \
    "$(dpkg-deb -f "$package" Installed-Size) KiB installed"
