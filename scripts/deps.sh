#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Velarix need, when missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git ca-certificates openssl
  libxml2-dev libsqlite3-dev libssl-dev
  qt6-base-dev libgl-dev
  googletest libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
