#!/usr/bin/env bash
# Installs what building and testing leafsift needs on a fresh Debian 12 machine.
set -euo pipefail
packages=(cmake g++ make binutils googletest libgtest-dev zlib1g-dev pkg-config
          qpdf poppler-utils libjpeg-turbo-progs fonts-liberation
          libtiff-tools imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
