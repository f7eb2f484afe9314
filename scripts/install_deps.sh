#!/usr/bin/env bash
# Installs the Debian packages that building and testing need (a fresh Debian 12, as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev libcli11-dev nlohmann-json3-dev libssl-dev zlib1g-dev libbz2-dev libsystemd-dev dbus
  dosfstools mtools ntfs-3g exfatprogs exfat-fuse sleuthkit fdisk gdisk fuse3 python3 util-linux gcc libc6-dev bc
  zip p7zip-full sox libsox-fmt-base ncompress
  libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core xvfb xauth xdotool imagemagick
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
