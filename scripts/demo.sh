#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs them on the example
# files in examples/, in a scratch folder so the repository stays clean.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCHMARKS=OFF
work=$(mktemp -d "${TMPDIR:-/tmp}/demo.XXXXXX")
cp -r "$root/examples/." "$work/"
cd "$work"
echo "== demonstration in $work"
echo "== torvex example.param"
"$root/build/bin/torvex" example.param
