#!/usr/bin/env bash
# build.sh DIR [cmake options...]: configure and build into DIR with all cores.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
