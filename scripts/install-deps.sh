#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing
# (the last line: what the manual pages, the icons and the Debian package are made and
# checked with).
#   --pictures   also what scripts/screenshots.sh needs (a virtual X display)
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  libusb-1.0-0-dev libcli11-dev
  umockdev libumockdev-dev
  libgtest-dev libgmock-dev
  gcc-sh4-linux-gnu binutils-sh4-linux-gnu qemu-user
  qt6-base-dev
  clang-14 libclang-rt-14-dev
  dpkg-dev file help2man librsvg2-bin lintian desktop-file-utils appstream man-db
)
if [ "${1:-}" = "--pictures" ]; then
  packages+=(xvfb xauth)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
