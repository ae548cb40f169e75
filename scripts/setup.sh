#!/usr/bin/env bash
# Installs the Debian 12 packages the builds and tests need, and nothing when
# they are all present already (so it is cheap to run before every build).
#   scripts/setup.sh [native] [readback] [fuzz] [win] [style] [bench]
#   (default: all groups but bench)
#   native:  g++ cmake make, GoogleTest (library and sources), Google Benchmark,
#            rsvg-convert (librsvg2-bin), which draws ksvw-dt plot's SVG in its
#            test, and zlib (whose inflater checks the BLF export's deflater)
#   readback: python-can, tshark, tcpdump and can-utils, which read the exports
#            back in the command-line tests, and the locale sources from which
#            that test builds en_US for can-utils' asc2log (tshark's "capture
#            as non-root?" question is answered by its default: no)
#   fuzz:    clang with its sanitizer and libFuzzer runtimes (and zlib, as native)
#   win:     MinGW-w64 (posix threads) and its zlib, Wine (64-bit only: no i386 needed),
#            Xvfb for tests that open windows, xwininfo and ImageMagick for
#            screenshots of the program
#   style:   clang-format
#   bench:   can-utils (log2asc, the converter bench/cli_bench.sh times ours
#            against) and time (/usr/bin/time -v for peak memory)
set -euo pipefail
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

declare -A groups=(
  [native]="g++ make cmake libgtest-dev googletest libbenchmark-dev librsvg2-bin zlib1g-dev"
  [readback]="python3-can tshark tcpdump can-utils locales"
  [fuzz]="clang libclang-rt-14-dev zlib1g-dev"
  # Wine's X11 driver and dialogs use the X libraries and fonts once windows
  # are drawn (--no-install-recommends leaves them out; they are small).
  [win]="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb fonts-wine
         libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3
         x11-utils imagemagick"
  [style]="clang-format"
  [bench]="can-utils time"
)

wanted=("$@")
((${#wanted[@]} > 0)) || wanted=(native readback fuzz win style)
packages=()
for group in "${wanted[@]}"; do
  [[ -n "${groups[$group]+set}" ]] || die "unknown group '$group' (expected native, readback, fuzz, win, style or bench)"
  read -r -a list <<<"${groups[$group]//$'\n'/ }"
  packages+=("${list[@]}")
done

# One line per installed architecture for multi-arch libraries.
installed() {
  dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx installed
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
  say "setup: all ${#packages[@]} packages present"
  exit 0
fi

say "setup: installing ${missing[*]}"
sudo=()
if ((EUID != 0)); then
  command -v sudo >/dev/null || die "not root and no sudo: install ${missing[*]}"
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
apt_options=(-y -q -o Dpkg::Use-Pty=0 -o DPkg::Lock::Timeout=600 --no-install-recommends)
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -q -o DPkg::Lock::Timeout=600 update
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install "${apt_options[@]}" "${missing[@]}" </dev/null

for package in "${missing[@]}"; do
  installed "$package" || die "package $package did not install"
done
say "setup: done"
