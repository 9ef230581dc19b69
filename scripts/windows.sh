#!/usr/bin/env bash
# Builds Quorvane for Windows with mingw-w64 and tests it under Wine, as root and as an
# unprivileged user; writes build/windows/quorvane-<version>-win64.zip. Installs what is
# missing; builds a static Qt for Windows once into a cache folder outside the repository.
# With --core, builds and tests only what needs no Qt; with --ci, everything when the Qt build
# is already cached or QUORVANE_WINDOWS_FULL=1, the core otherwise.
# shellcheck source=scripts/common.sh
source "$(dirname "$0")/common.sh"

qt_version=6.4.2
qt_options=(-DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_opengl=OFF
    -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_tabletevent=OFF)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/quorvane
qt="$cache/qt-$qt_version-mingw-static"
core_only=false
case ${1:-} in
--core) core_only=true ;;
--ci) [ -f "$qt/.stamp" ] || [ "${QUORVANE_WINDOWS_FULL:-0}" = 1 ] || core_only=true ;;
esac
root=$PWD
build=build/windows

install_deps windows
check_build "$build"

# Qt for Windows, static, from Debian's source of the host's Qt, with the host's tools. Kept
# while its version and options stay the same; a build interrupted (it takes over an hour on
# busy cores) goes on where it stopped while they stay the same.
build_qt() {
    local stamp="$qt_version ${qt_options[*]}"
    [ -f "$qt/.stamp" ] && [ "$(cat "$qt/.stamp")" = "$stamp" ] && return 0
    local work="$cache/qt-work"
    rm -rf "$qt"
    if ! [ -f "$work/.stamp" ] || [ "$(cat "$work/.stamp")" != "$stamp" ]; then
        rm -rf "$work"
        mkdir -p "$work"
        echo "$stamp" >"$work/.stamp"
    fi
    [ -f "$work/.configured" ] || configure_qt "$work"
    cmake --build "$work/build"
    cmake --install "$work/build" >/dev/null
    echo "$stamp" >"$qt/.stamp"
    rm -rf "$work"
}
# Fetches and unpacks the source and configures its build in $1, from nothing.
configure_qt() {
    local work=$1
    rm -rf "$work/apt" "$work/source" "$work/build"
    mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial"
    # A private apt configuration with the source lines: the system's stays untouched.
    cat >"$work/apt/sources.list" <<SOURCES
deb-src http://deb.debian.org/debian bookworm main
SOURCES
    local apt=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
        -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache::Archives=$work/apt/archives"
        -o "APT::Sandbox::User=root")
    local debian_version
    debian_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
    [ "${debian_version%%+*}" = "$qt_version" ] ||
        { echo "windows.sh: the host's Qt is $debian_version, not $qt_version" >&2 && exit 1; }
    apt-get "${apt[@]}" update -q
    (cd "$work" && apt-get "${apt[@]}" source --download-only "qt6-base=$debian_version" &&
        dpkg-source --no-check -x qt6-base_*.dsc source >/dev/null) # apt checked them
    cmake -S "$work/source" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$qt" \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF "${qt_options[@]}" >"$work/configure.log"
    touch "$work/.configured"
}

# Each user runs Wine in a prefix of its own, made afresh in a temporary folder on every run
# (seconds; a kept prefix could hide a step that fails on a new machine), with a server started
# and warm before ctest.
wine_env() { # $1: prefix; its folder also takes the server's socket folder
    # No menu entries or icons of Wine's in the home folder.
    export WINEPREFIX=$1 TMPDIR=${1%/*} WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    export WINEQT_QPA_PLATFORM=offscreen WINEQT_FORCE_STDERR_LOGGING=1
}
# Runs a step whose chatter only matters when it fails: its output is shown then.
quiet() { # $1: log file, then the command
    local log=$1
    shift
    "$@" >"$log" 2>&1 || { cat "$log" >&2 && echo "windows.sh: failed: $*" >&2 && return 1; }
}
# Stops the server and waits for it, which writes the registry out on its way.
stop_wine() { wineserver -k 2>/dev/null || true; wineserver -w; }
start_wine() { # $1: the prefix, made here
    wine_env "$1"
    quiet "$1.log" wine cmd /c exit
    wineserver -w
    wineserver -p
    quiet "$1.log" wine cmd /c exit
}
scratch=$(mktemp -d)
# A step that fails leaves no Wine server running: a lasting one would hold the caller's output.
trap '[[ ${WINEPREFIX:-} != "$scratch"/* ]] || stop_wine; rm -rf "$scratch"' EXIT
chmod 0755 "$scratch"

gui=OFF
if ! $core_only; then
    build_qt
    gui=ON
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DQUORVANE_WERROR=ON -DQUORVANE_BENCH=OFF -DQUORVANE_GUI=$gui \
    -DCMAKE_FIND_ROOT_PATH="$qt" -DCMAKE_PREFIX_PATH=/ -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build "$build"

start_wine "$scratch/wine-root"
status=0
ctest --test-dir "$build" --output-on-failure || status=$?
stop_wine
[ "$status" = 0 ]
if [ "$(id -u)" = 0 ]; then
    # The same test programs as an ordinary user, from a copy it may read, in its own prefix.
    user_dir=$scratch/user
    mkdir "$user_dir"
    cp "$build"/tests/test*.exe "$user_dir/"
    cp -r resources "$user_dir/resources"
    chmod -R a+rX "$user_dir"
    chown 65534:65534 "$user_dir"
    (cd "$user_dir" && setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$user_dir" \
        QUORVANE_TEST_RESOURCES="$user_dir/resources" \
        bash -c "set -e; $(declare -f wine_env quiet stop_wine start_wine); start_wine '$user_dir/wine'
            trap stop_wine EXIT
            for test in ./test*.exe; do
                case \$test in
                *Form1*) wine \"\$test\" -silent ;;
                *) wine \"\$test\" --gtest_brief=1 ;;
                esac
            done")
else
    echo "windows.sh: not run: the tests as another unprivileged user (needs root; they ran as" \
        "$(id -un))"
fi

if ! $core_only; then
    version=$(sed -n 's/^project(Quorvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
    zip=$build/quorvane-$version-win64.zip
    stage=$build/zip/quorvane-$version
    rm -rf "$build/zip" "$zip"
    mkdir -p "$stage"
    cp "$build"/lib/quorvane/quorvane.exe "$build"/quorvane-batch.exe "$stage/"
    x86_64-w64-mingw32-strip "$stage"/*.exe
    cp -r "$build"/lib/quorvane/HAND-M.CUR "$build"/lib/quorvane/Samples "$build"/lib/quorvane/x \
        "$stage/"
    (cd "$build/zip" && zip -qr "../$(basename "$zip")" "quorvane-$version")
    echo "$zip"

    # The installer, from the zip's files. Under Wine, as a user would: install, run, install
    # a rebuild of the same version and then the next version over it, uninstall. The next
    # version is the same files, numbered on.
    msi() { # $1: version, $2: the installer to write, from the top folder
        (cd "$stage" && wixl -a x64 -D Version="$1" -o "$root/$2" "$root/$wxs")
        # The upgrade row takes the same version too (msidbUpgradeAttributesVersionMaxInclusive,
        # 512), as WiX's AllowSameVersionUpgrades makes it; wixl drops IncludeMaximum and has no
        # AllowSameVersionUpgrades.
        msiinfo export "$2" Upgrade | awk -F '\t' -v OFS='\t' \
            '$7 ~ /^WIX_UPGRADE_DETECTED\r?$/ { $5 += 512 } 1' >"$scratch/Upgrade.idt"
        msibuild "$2" -i "$scratch/Upgrade.idt"
    }
    wxs=packaging/windows/quorvane.wxs
    cp resources/quorvane.ico "$stage/"
    installer=$build/quorvane-$version-win64.msi
    again=$build/msi-again.msi
    next=$build/msi-next.msi
    msi "$version" "$installer"
    msi "$version" "$again"
    msi "${version%.*}.$((${version##*.} + 1))" "$next"
    rm "$stage/quorvane.ico"
    start_wine "$scratch/wine-msi"
    installed="$WINEPREFIX/drive_c/Program Files/Quorvane"
    fail() { echo "windows.sh: the installer $*" >&2 && exit 1; }
    wine msiexec /i "$installer" /qn || fail "did not install"
    [ -n "$(find "$WINEPREFIX/drive_c" -name Quorvane.lnk)" ] || fail "made no Start-menu entry"
    batch_version=$(wine "$installed/quorvane-batch.exe" --version | tr -d '\r')
    [ "$batch_version" = "quorvane-batch $version" ] || fail "installed no working program"
    here="Z:${scratch//\//\\}"
    echo "$here\\copy.txt" >"$scratch/list.txt"
    wine "$installed/quorvane-batch.exe" "C:\\Program Files\\Quorvane\\Samples\\sample.txt" \
        "$here\\list.txt"
    cmp "$scratch/copy.txt" "$stage/Samples/sample.txt" || fail "'s quorvane-batch.exe did not copy"
    only_entry() { # $1: the installer whose entry alone is listed
        local code
        code=$(msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p')
        [ "$(wine uninstaller --list | tr -d '\r')" = "$code|||Quorvane" ]
    }
    wine msiexec /i "$again" /qn || fail "rebuilt at the same version did not install"
    only_entry "$again" || fail "rebuilt at the same version installed beside the first"
    wine "$build/tests/checkResources.exe" "C:\\Program Files\\Quorvane\\quorvane.exe" \
        "C:\\Program Files\\Quorvane\\quorvane-batch.exe" ||
        fail "installed programs without their manifest or version"
    wine msiexec /i "$next" /qn || fail "of the next version did not install"
    only_entry "$next" ||
        fail "left other than one entry, the next version's, under installed programs"
    wine msiexec /x "$next" /qn || fail "did not uninstall"
    left=$(find "$WINEPREFIX/drive_c" -iname '*quorvane*')
    [ -z "$left" ] || fail "left behind after uninstalling: $left"
    stop_wine
    rm "$again" "$next"
    echo "$installer"
fi
