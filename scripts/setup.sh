#!/usr/bin/env bash
# Installs what building and testing need, from Debian's archive, when it is missing; further
# package names given as arguments are installed the same way (scripts/wine.sh adds Wine's,
# scripts/fuzz.sh clang).
#
# It copes with a package index that is half-synced for one architecture ("File has unexpected
# size... Mirror sync in progress?"): the failed index is reported in one line and left out; when the
# install then cannot match the twins of two architectures (a multi-arch package must have the same
# version on both, and one architecture no longer sees the suite the other's versions came from), it
# is tried again with the suites that every architecture still has preferred, through a preferences
# file of its own given on the command line (nothing is left pinned in the machine's configuration),
# and says so in one line.
#
# Exit status: 0 when everything is installed; 3 when the registry does not have some of the
# packages at all (each named in one line; the others are installed): the caller skips what needed
# them; 1 on any other failure.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config python3
          libgtest-dev libbenchmark-dev libyaml-cpp-dev nlohmann-json3-dev libsndfile1-dev
          g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
          valgrind "$@")
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
# Two scripts may install at once (scripts/test.sh installs Wine's packages in the background): the
# second waits for apt's lock instead of failing on it.
lock=(-o DPkg::Lock::Timeout=600)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "setup: installing ${missing[*]}"

# apt-get update exits 100 when one index fails and keeps the others: what failed is named and left out.
$sudo apt-get "${lock[@]}" update -qq >"$work/update.log" 2>&1 || true
# "Failed to fetch http://HOST/PATH/dists/SUITE/COMPONENT/binary-ARCH/Packages.xz  REASON" names one
# architecture's index; "Failed to fetch http://HOST/PATH/dists/SUITE/InRelease  REASON" a whole suite.
failed=$(sed -nE -e 's#^(E|W): Failed to fetch [^ ]*/dists/([^/]+)/([^/]+)/binary-([^/]+)/[^ ]*[[:space:]]+(.*)$#\2 \3 \4: \5#p' \
                 -e 's#^(E|W): Failed to fetch [^ ]*/dists/([^/ ]+)/(In)?Release[[:space:]]+(.*)$#\2 (every index): \4#p' \
           "$work/update.log" | sort -u)
if [ -n "$failed" ]; then
  echo "setup: apt-get update: left out, could not be fetched: $(paste -sd ';' <<<"$failed")"
elif grep -q '^E:' "$work/update.log"; then
  echo "setup: apt-get update: $(grep '^E:' "$work/update.log" | head -n 1)"
fi
# Only the suites that lost one architecture's index can leave twins unmatched.
failed_suites=$(grep -v '(every index)' <<<"$failed" | awk '{print $1}' | sort -u || true)

# A name the registry does not know at all (no candidate version) is named; the rest still install.
unknown=() wanted=()
for p in "${missing[@]}"; do
  # Read from a string: grep -q stopping early would give apt-cache a SIGPIPE under pipefail.
  policy=$(apt-cache policy "$p" 2>/dev/null || true)
  if grep -Eq '^[[:space:]]+Candidate: [^(]' <<<"$policy"; then
    wanted+=("$p")
  else
    echo "setup: the package registry has no '$p'"
    unknown+=("$p")
  fi
done

install() {
  $sudo apt-get "${lock[@]}" install -y -q --no-install-recommends "$@" >"$work/install.log" 2>&1
}
if [ ${#wanted[@]} -gt 0 ] && ! install "${wanted[@]}"; then
  if [ -z "$failed_suites" ]; then
    grep -E '^(E:| )' "$work/install.log" | tail -n 20 >&2
    echo "setup: apt-get install failed" >&2
    exit 1
  fi
  # The suites every index of which was fetched: their versions are preferred, even over installed
  # newer ones (1001), so that the twins of both architectures come from the same suite.
  mapfile -t suites < <(apt-cache policy | sed -nE 's/.* release .*n=([^,]+),.*/\1/p' | sort -u |
                        grep -vxF -f <(printf '%s\n' $failed_suites) || true)
  [ ${#suites[@]} -gt 0 ] || { echo "setup: apt-get install failed and no complete suite is left" >&2; exit 1; }
  for s in "${suites[@]}"; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 1001\n\n' "$s"
  done >"$work/preferences"
  if ! install --allow-downgrades -o Dir::Etc::Preferences="$work/preferences" "${wanted[@]}"; then
    grep -E '^(E:| )' "$work/install.log" | tail -n 20 >&2
    echo "setup: apt-get install failed, also from ${suites[*]} alone" >&2
    exit 1
  fi
  summary=$(grep -E '^[0-9]+ upgraded' "$work/install.log" | head -n 1)
  echo "setup: $(paste -sd ',' <<<"$failed_suites") incomplete: installed from ${suites[*]} instead (${summary%.})"
fi
[ ${#unknown[@]} -eq 0 ] || exit 3
