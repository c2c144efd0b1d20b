#!/usr/bin/env bash
# Installs what building and testing leafsift needs on a fresh Debian 12 machine.
set -euo pipefail
packages=(cmake g++ make binutils googletest libgtest-dev zlib1g-dev pkg-config
          qpdf poppler-utils libjpeg-turbo-progs fonts-liberation
          libtiff-tools imagemagick
          python3 python3-venv python3-pip python3-setuptools python3-pytest
          python3-dask python3-distributed chromium)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
