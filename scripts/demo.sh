#!/usr/bin/env bash
# Installs what is missing, builds the programs and runs them on the example
# files in examples/, in a scratch folder so the repository stays clean.  It
# builds in a folder of its own (build-demo), so that it never reconfigures
# the builds of the tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build-demo" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCHMARKS=OFF
work=$(mktemp -d "${TMPDIR:-/tmp}/demo.XXXXXX")
cp -r "$root/examples/." "$work/"
cd "$work"
echo "== demonstration in $work"

echo "== torvex model.param (render a Sersic disk and a de Vaucouleurs bulge)"
"$root/build-demo/bin/torvex" model.param
echo
echo "== files written"
ls -l model.fits torvex.01 fit.log
echo "== header of model.fits (FITS headers are 80-character text cards)"
head -c 8640 model.fits | fold -w 80 | sed -e '/^END /q' | grep -v '^ *$'
echo "== fitsverify model.fits"
fitsverify -q model.fits
echo "== restart file torvex.01 (the start of a fit of the same model)"
sed -n '/^A)/,/^S)/p' torvex.01
echo "== fit.log"
cat fit.log

echo
echo "== torvex fit.param (fit a Sersic galaxy and the sky to sersic_galaxy.fits)"
"$root/build-demo/bin/torvex" fit.param > fit.out
sed -n '/^Initial parameters/,/^====/p' fit.out
echo "   ..."
# The last iteration: the block that shows the countdown at 0.
awk '/^Iteration/ {block = ""} {block = block $0 "\n"} /^COUNTDOWN = 0 / {printf "%s", block}' fit.out
echo "== fitted parameters in the model header (HDU 3 of fitblock.fits)"
tr '\n' ' ' < fitblock.fits | fold -b -w 80 | grep -a -E '^(COMP_|[12]_|CHISQ|NDOF|CHI2NU)'
echo "== fitsverify fitblock.fits"
fitsverify -q fitblock.fits
echo "== fit.log (the entry of the fit)"
tail -n 13 fit.log

echo "== dornel: example field with a galaxy and stars on a curved sky"
cc make_sky_field.c -o make_sky_field $(pkg-config --cflags --libs cfitsio) -lm
./make_sky_field
echo "== dornel -o 2 -k 4 -r 1 field.fits  (polynomial sky)"
"$root/build-demo/bin/dornel" -o 2 -k 4 -r 1 field.fits
ls -l field.fits e.field.fits sky_field.fits sfield.fits e.sfield.fits cut_field.fits
echo "== dornel -s -g 64,48 -i 4 -m 1 -k 3 -v 1 spline/field.fits  (spline sky with clipping)"
mkdir -p spline
cp field.fits e.field.fits spline/
"$root/build-demo/bin/dornel" -s -g 64,48 -i 4 -m 1 -k 3 -v 1 spline/field.fits
ls -l spline
