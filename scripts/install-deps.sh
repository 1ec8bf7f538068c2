#!/usr/bin/env bash
# Installs, with apt-get, whatever the build, the tests and the demo need and this
# machine lacks, and any further packages given as arguments. Does nothing (and
# needs no network) when everything is present.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config ccache patch
    juce-modules-source   # JUCE 7.0.5 with its system dependencies (X11, ALSA, freetype...)
    libgtest-dev libbenchmark-dev
    libhwy-dev            # Highway: the engines' vector loops, one source for every instruction set
    liblilv-dev           # the tests read the LV2 bundle as LV2 hosts do
    xvfb xauth            # a virtual display for the editor's tests and pictures
    fonts-dejavu-core     # the editor's monospaced text
)

# Packages only some targets need are named by their scripts.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
