#!/usr/bin/env bash
# Installs the Debian packages that building and running (`run`), running under a virtual
# display (`virtual`), testing (`test`), packaging (`package`), taking screenshots
# (`screenshots`) or building for Windows (`windows`) need, when any is missing. Root installs
# them itself; anyone else through sudo, or gets the command for an administrator.
set -euo pipefail

# The release build carries the tests, so every build needs GoogleTest.
packages=(cmake ninja-build g++ qt6-base-dev libgtest-dev)
desktop=(fonts-liberation xdg-utils)
display=(xvfb xauth xdotool)
checks=(git dpkg-dev debhelper file lintian appstream)
purposes=()
for need in "${@:-run}"; do
    case $need in
    run) packages+=("${desktop[@]}") && purposes+=("building and running Quorvane") ;;
    virtual) packages+=("${desktop[@]}" "${display[@]}") &&
        purposes+=("running Quorvane on a virtual display") ;;
    test) packages+=("${desktop[@]}" "${display[@]}" "${checks[@]}" acl dbus-daemon at-spi2-core
        python3-pyatspi e2fsprogs xfsprogs btrfs-progs shellcheck exfatprogs exfat-fuse fusefat
        dosfstools python3-fuse) &&
        purposes+=("building and testing Quorvane") ;;
    package) packages+=("${checks[@]}") && purposes+=("making and checking the package") ;;
    screenshots) packages+=("${desktop[@]}" "${display[@]}" openbox imagemagick
        qt6-gtk-platformtheme gnome-themes-extra) && purposes+=("taking screenshots") ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip wixl msitools) &&
        purposes+=("building and testing for Windows") ;;
    *) echo "deps.sh: unknown need '$need'" >&2 && exit 2 ;;
    esac
done

if [ "$(id -u)" = 0 ] && [ -n "${SUDO_USER:-}" ] && [ -z "${QUORVANE_NOTED:-}" ]; then
    echo "deps.sh: sudo is not needed: run as $SUDO_USER, the scripts ask sudo only to install" \
        "packages and the build stays $SUDO_USER's"
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
((${#missing[@]})) || exit 0
apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
if [ "$(id -u)" = 0 ]; then
    "${apt[@]}" update -q
    "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"
    exit 0
fi

for_admin() {
    echo "deps.sh: $1; an administrator can install what is missing with:" >&2
    echo "    apt-get update && apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
}
command -v sudo >/dev/null || for_admin "packages are missing and there is no sudo here"
# sudo asks its password on the terminal; without one it must not need to ask.
if ! { : </dev/tty; } 2>/dev/null && ! sudo -n true 2>/dev/null; then
    for_admin "packages are missing and sudo cannot ask for a password without a terminal"
fi
echo "deps.sh: ${purposes[*]} needs ${missing[*]}; installing with sudo"
{ sudo "${apt[@]}" update -q &&
    sudo "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}"; } ||
    for_admin "installing with sudo did not succeed"
