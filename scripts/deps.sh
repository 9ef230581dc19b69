#!/usr/bin/env bash
# Installs the Debian packages that building and running (`run`) or testing (`test`) need,
# when any is missing. Run as root.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-qpa-plugins fonts-liberation xdg-utils)
if [ "${1:-run}" = test ]; then
    packages+=(libgtest-dev xvfb xauth xdotool acl)
fi
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
