#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demonstration need
# (and FFTW, the reference of one benchmark), but only those that are missing,
# so running it again changes nothing. With --bench it also installs the
# programs the comparison scripts under bench/ time ours against (astropy,
# photutils, source-extractor); nothing builds on them.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcfitsio-dev libncurses-dev libccfits-dev
  fitsverify tmux procps tzdata
  libfftw3-dev # the reference of bench_cdft2d_fftw only, linked into nothing else
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(python3-astropy python3-photutils python3-scipy source-extractor)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
