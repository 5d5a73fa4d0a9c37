#!/usr/bin/env bash
# Installs the Debian packages Quillet needs to build, test and run, when any is missing.
set -euo pipefail
# xvfb, xdotool and x11-utils let the start-up tests run the real program on a virtual
# display and quit it from its menu; fonts-dejavu-core gives the offscreen screenshots text.
packages=(build-essential cmake qt6-base-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev python3
          xvfb xdotool x11-utils fonts-dejavu-core clang libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
