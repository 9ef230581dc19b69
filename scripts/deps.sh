#!/usr/bin/env bash
# Installs the Debian packages that building and running (`run`), running under a virtual
# display (`virtual`), testing (`test`), packaging (`package`), taking screenshots
# (`screenshots`) or building for Windows (`windows`) need, when any is missing. Run as root.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev)
desktop=(qt6-qpa-plugins fonts-liberation xdg-utils)
display=(xvfb xauth xdotool)
checks=(dpkg-dev file lintian appstream)
for need in "${@:-run}"; do
    case $need in
    run) packages+=("${desktop[@]}") ;;
    virtual) packages+=("${desktop[@]}" "${display[@]}") ;;
    test) packages+=("${desktop[@]}" "${display[@]}" "${checks[@]}" libgtest-dev acl) ;;
    package) packages+=("${checks[@]}") ;;
    screenshots) packages+=("${desktop[@]}" "${display[@]}" openbox imagemagick
        qt6-gtk-platformtheme gnome-themes-extra) ;;
    windows) packages+=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip libgtest-dev) ;;
    *) echo "deps.sh: unknown need '$need'" >&2 && exit 2 ;;
    esac
done
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        missing+=("$package")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
