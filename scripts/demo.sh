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

echo "== dornel: example field with a galaxy and stars on a curved sky"
cc make_sky_field.c -o make_sky_field $(pkg-config --cflags --libs cfitsio) -lm
./make_sky_field
echo "== dornel -o 2 -k 4 -r 1 field.fits  (polynomial sky)"
"$root/build/bin/dornel" -o 2 -k 4 -r 1 field.fits
ls -l field.fits e.field.fits sky_field.fits sfield.fits e.sfield.fits cut_field.fits
