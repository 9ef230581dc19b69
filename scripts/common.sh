# shellcheck shell=bash
# Sourced by the scripts: the packages they need, installed as the caller may, and the one
# release build that running, testing and packaging share.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
release=build/release

# Installs what the named needs require; a script run by another does not repeat its notes.
install_deps() {
    bash scripts/deps.sh "$@"
    export QUORVANE_NOTED=1
}

# A build folder left by a run as root stops here with the fix, not in CMake's errors.
check_build() { # $1: the build folder
    [ "$(id -u)" != 0 ] && [ -e build ] || return 0
    local foreign
    foreign=$(find build -maxdepth 0 ! -user "$(id -u)" -print -quit)
    [ -z "$foreign" ] && [ -e "$1" ] && foreign=$(find "$1" ! -user "$(id -u)" -print -quit)
    [ -z "$foreign" ] && return 0
    echo "$(basename "$0"): $foreign belongs to $(stat -c %U "$foreign"), not to $(id -un)" \
        "(an earlier run with sudo?); fix: sudo chown -R $(id -un): build" >&2
    exit 1
}

# The release build with the tests, the benchmark and warnings as errors; run.sh, test.sh and
# package.sh configure it alike so that none undoes another's build.
configure_release() {
    check_build "$release"
    cmake -S . -B "$release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVANE_WERROR=ON \
        -DCMAKE_INSTALL_PREFIX=/usr
}

# Qt makes itself a runtime folder in /tmp when the session names none; this one is the build's.
own_runtime_dir() {
    [ -z "${XDG_RUNTIME_DIR:-}" ] || return 0
    export XDG_RUNTIME_DIR=$PWD/$release/runtime
    install -d -m 0700 "$XDG_RUNTIME_DIR"
}
