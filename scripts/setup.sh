#!/usr/bin/env bash
# Installs what building and testing need, from Debian's archive, when it is missing; further
# package names given as arguments are installed the same way (scripts/wine.sh adds Wine's).
set -euo pipefail
packages=(cmake make g++ pkg-config python3
          libgtest-dev libbenchmark-dev libyaml-cpp-dev nlohmann-json3-dev libsndfile1-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          clang valgrind "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
