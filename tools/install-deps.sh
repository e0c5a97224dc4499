#!/bin/bash
# Installs the Debian packages that building and testing tavrix need, when any is missing.
# As root it installs them itself; otherwise it prints the one command to run.
# Usage: tools/install-deps.sh [GROUP...]; the optional group "fuzz" adds clang and
# libFuzzer (make fuzz).
set -euo pipefail

# One package a line; add new build or test dependencies here.
PACKAGES=(
  cmake
  g++
  make
  pkg-config
  qt6-base-dev
  qt6-image-formats-plugins
  libpng-dev
  zlib1g-dev
  libgtest-dev
  libgmock-dev
)

# Optional groups, named on the command line.
FUZZ_PACKAGES=(
  clang
  libclang-rt-14-dev
)
for group in "$@"; do
  case "$group" in
    fuzz) PACKAGES+=("${FUZZ_PACKAGES[@]}") ;;
    *) echo "install-deps: unknown package group $group (known: fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${PACKAGES[@]}"; do
  status="$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)"
  if [ "$status" != "install ok installed" ]; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "Run this, then try again:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}"
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
