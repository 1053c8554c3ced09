#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, running and testing: the packages of
# scripts/packages.txt, without their Recommends, so that the list alone says what is needed
# (scripts/check-deps.py proves it after each build).
# Idempotent: packages already present are left alone, apt-get runs only when something is missing.
set -euo pipefail
list="$(cd "$(dirname "$0")" && pwd)/packages.txt"

mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$list" | grep -v '^$')

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages of $(basename "$list") present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    # A minimal Debian has no sudo; say what to do instead of "command not found".
    command -v sudo >/dev/null || { echo "install-deps: run this as root to install them" >&2; exit 1; }
    sudo="sudo"
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
