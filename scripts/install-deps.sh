#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, running and testing.
# Idempotent: packages already present are left alone, apt-get runs only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-charts-dev libgl-dev
    libshp-dev libxlsxwriter-dev
    python3 python3-pymodbus python3-serial python3-dbfread python3-openpyxl
    fonts-dejavu-core xvfb xauth adwaita-icon-theme
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
