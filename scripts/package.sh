#!/usr/bin/env bash
# Installs what is missing and makes the Debian packages: the upstream tarball from git (the
# tree as committed, with any changes to tracked files), the source package with debian/, and
# the binary packages built by dpkg-buildpackage in a scratch folder, without the tests (the
# test command runs them). Checks every package with lintian and the AppStream metadata with
# appstreamcli, leaves everything in build/deb and prints each package's path and sizes.
# With --twice, builds again in another folder, later, under umask 077 and another time zone,
# and fails unless every package is bit for bit the same.
# shellcheck source=scripts/common.sh
source "$(dirname "$0")/common.sh"

twice=
case ${1:-} in
--twice) twice=1 ;;
"") ;;
*) echo "usage: package.sh [--twice]" >&2 && exit 64 ;;
esac

install_deps package
check_build build/deb
out=build/deb
rm -rf "$out"
mkdir -p "$out"
version=$(dpkg-parsechangelog -S Version)
upstream=${version%-*}
orig=$out/quorvane_$upstream.orig.tar.gz
commit=$(git stash create)
git archive --prefix="quorvane-$upstream/" -o "$orig" "${commit:-HEAD}" -- . ':!debian'

scratch=()
trap 'rm -rf "${scratch[@]}"' EXIT

# Builds the source and binary packages in the folder $1, from the tarball and debian/.
build() {
    local folder=$1
    cp "$orig" "$folder/"
    tar -C "$folder" -xzf "$orig"
    git archive "${commit:-HEAD}" debian | tar -C "$folder/quorvane-$upstream" -x
    (cd "$folder/quorvane-$upstream" &&
        DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" nice dpkg-buildpackage -us -uc -Pnocheck \
            >../build.log 2>&1) || {
        tail -40 "$folder/build.log" >&2
        echo "package.sh: the package build failed; its log: $folder/build.log" >&2
        exit 1
    }
}

first=$(mktemp -d -p "$out")
scratch+=("$first")
build "$first"
mv "$first"/*.deb "$first"/*.dsc "$first"/*.debian.tar.* "$first"/*.buildinfo \
    "$first"/*.changes "$first"/build.log "$out/"

if [ -n "$twice" ]; then
    # Another folder of another length, later, with a umask and time zone a build must not see.
    second=$(mktemp -d)/again/quorvane
    scratch+=("${second%/again/quorvane}")
    mkdir -p "$second"
    (umask 077 && TZ=NZST-12NZDT build "$second")
    differ=0
    for package in "$out"/*.deb; do
        other=$second/$(basename "$package")
        if [ "$(sha256sum <"$package")" = "$(sha256sum <"$other" 2>/dev/null)" ]; then
            echo "package.sh: $(basename "$package") is the same in both builds"
        else
            echo "package.sh: $(basename "$package") differs between the builds" >&2
            differ=1
        fi
    done
    # A package only the second build made differs too.
    for other in "$second"/*.deb; do
        [ -e "$out/$(basename "$other")" ] ||
            { echo "package.sh: only the second build made $(basename "$other")" >&2 && differ=1; }
    done
    ((!differ)) || exit 1
fi

# Lintian's own temporary files go in a folder of ours, removed afterwards. It refuses to run
# as root unless told; it only reads the packages.
lint=$(mktemp -d -p "$out")
scratch+=("$lint")
TMPDIR=$lint lintian --allow-root --pedantic --fail-on error,warning,pedantic "$out"/*.deb
appstreamcli validate --no-net packaging/example.quorvane.Quorvane.metainfo.xml
for package in "$out"/*.deb; do
    echo "$package: $(($(stat -c %s "$package") / 1000)) KB," \
        "$(dpkg-deb -f "$package" Installed-Size) KiB installed"
done
