#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is
# missing (libxml2-utils: xmllint checks the PMML documents against the schema).
# Usage: tools/deps.sh [extra-package ...]
set -euo pipefail
pkgs=(g++ cmake ninja-build libgtest-dev libgmock-dev libboost-dev libeigen3-dev libpugixml-dev
      nlohmann-json3-dev libcli11-dev zlib1g-dev clang-format libxml2-utils "$@")
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
