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
  qt6-base-dev qt6-svg-dev fonts-dejavu-core imagemagick
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

# Number-format tests run under German and French locales: the library's
# output must ignore them, the desktop program's regional texts follow them.
need_gen=0
for loc in de_DE fr_FR; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$"; then
    need_gen=1
    if [ -f /etc/locale.gen ]; then
      "${sudo_cmd[@]}" sed -i "s/^# *\(${loc}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
      grep -q "^${loc}.UTF-8 UTF-8" /etc/locale.gen || echo "${loc}.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
  fi
done
if [ "$need_gen" = 1 ]; then "${sudo_cmd[@]}" locale-gen >/dev/null; fi
