#!/usr/bin/env bash
# Installs every Debian package the build, tests and benchmarks need.
# Idempotent: asks dpkg first and touches apt only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ ccache git pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libicu-dev icu-devtools
  python3 python3-icu libxml2-utils jq locales
  gdal-bin libgdal-dev shapelib
  clang libclang-rt-14-dev
  libboost-dev libboost-graph-dev libgeos-dev
  valgrind
)
# The sample import (scripts/sample.sh) also fetches its data with npm.
if [ "${1:-}" = "--sample" ] && ! command -v npm >/dev/null; then packages+=(npm); fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg -s "$p" >/dev/null 2>&1 || ! dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "deps.sh: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Number-format tests run under a German locale to prove the output ignores it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  if [ -f /etc/locale.gen ]; then
    "${sudo_cmd[@]}" sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  fi
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
