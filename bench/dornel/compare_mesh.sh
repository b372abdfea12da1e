#!/usr/bin/env bash
# Times dornel's two sky modes beside the usual mesh estimators on one
# generated 2048 x 2048 image, each program reading and writing FITS:
#
#   bench/dornel/compare_mesh.sh [REPEATS]     (default 5)
#
# dornel -o 2 -k 3 -r 2 (polynomial sky), dornel -s -i 8 -m 1 -k 3 (spline
# sky), photutils Background2D (boxes of 64 pixels, 3-sigma clipping, 3 x 3
# filter) and source-extractor's background map (boxes of 64 pixels, filter
# 3, nothing detected). The programs take turns within every repeat, so that
# a busy machine slows them alike; the medians of the repeats and their
# ratios are printed. photutils is timed twice: as a process, and by its own
# clock from reading the image to writing the map (without starting Python).
# photutils and source-extractor are Debian packages, installed here by
# scripts/setup.sh --bench when missing; they serve as yardsticks only.
# DORNEL names another dornel binary (default build/bin/dornel).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dornel=${DORNEL:-$root/build/bin/dornel}
repeats=${1:-5}
python=/usr/bin/python3
[ -x "$dornel" ] || { echo "no dornel at $dornel: build first (scripts/build.sh build)" >&2; exit 1; }
"$root/scripts/setup.sh" --bench
command -v source-extractor >/dev/null || { echo "source-extractor missing: run scripts/setup.sh --bench" >&2; exit 1; }
"$python" -c 'import photutils' 2>/dev/null || { echo "photutils missing: run scripts/setup.sh --bench" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/compare_mesh.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$python" "$here/make_field.py" "$work"
for d in poly spline mesh; do
  mkdir "$work/$d"
  cp "$work/field.fits" "$work/e.field.fits" "$work/$d/"
done
echo NUMBER > "$work/mesh/background.param"

now() { date +%s.%N; }
# Runs a command in a folder, its output to a log; prints the seconds taken.
timed() {
  local dir=$1; shift
  local start end
  start=$(now)
  (cd "$work/$dir" && "$@" > run.log 2>&1) || { echo "failed: $*" >&2; cat "$work/$dir/run.log" >&2; exit 1; }
  end=$(now)
  awk -v a="$end" -v b="$start" 'BEGIN {print a - b}'
}

declare -a poly spline phot photwork sex
for ((r = 1; r <= repeats; r++)); do
  poly+=("$(timed poly "$dornel" -o 2 -k 3 -r 2 field.fits)")
  spline+=("$(timed spline "$dornel" -s -i 8 -m 1 -k 3 field.fits)")
  phot+=("$(timed mesh "$python" "$here/photutils_background.py" field.fits photutils_background.fits)")
  photwork+=("$(awk '/^work/ {print $2}' "$work/mesh/run.log")")
  sex+=("$(timed mesh source-extractor field.fits -c /dev/null -PARAMETERS_NAME background.param \
    -CATALOG_TYPE NONE -FILTER N -THRESH_TYPE ABSOLUTE -DETECT_THRESH 1e9 -ANALYSIS_THRESH 1e9 \
    -BACK_SIZE 64 -BACK_FILTERSIZE 3 -CHECKIMAGE_TYPE BACKGROUND -CHECKIMAGE_NAME sextractor_background.fits \
    -VERBOSE_TYPE QUIET)")
  printf 'repeat %d: polynomial %.3f s, spline %.3f s, photutils %.3f s (work %.3f s), source-extractor %.3f s\n' \
    "$r" "${poly[-1]}" "${spline[-1]}" "${phot[-1]}" "${photwork[-1]}" "${sex[-1]}"
done

median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
P=$(median "${poly[@]}"); S=$(median "${spline[@]}"); U=$(median "${phot[@]}")
W=$(median "${photwork[@]}"); X=$(median "${sex[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {print a / b}'; }
echo
printf 'medians of %d repeats (seconds)\n' "$repeats"
printf '  dornel polynomial (-o 2 -k 3 -r 2)    %.3f\n' "$P"
printf '  dornel spline (-s -i 8 -m 1 -k 3)     %.3f\n' "$S"
printf '  photutils Background2D, process      %.3f\n' "$U"
printf '  photutils Background2D, own clock    %.3f\n' "$W"
printf '  source-extractor background map      %.3f\n' "$X"
echo
verdict() { awk -v a="$1" -v b="$2" 'BEGIN {print (a <= b) ? "met" : "missed"}'; }
line() {
  local r
  r=$(ratio "$2" "$3")
  printf '  %-46s %5.2f  (target %s: %s)\n' "$1" "$r" "$4" "$(verdict "$r" "$4")"
}
printf '  (clipping passes: polynomial %d, spline %d)\n' "$(grep -c 'pixel, rms' "$work/poly/run.log")" \
  "$(($(grep -c 'notnan' "$work/spline/run.log") - 1))"
echo
echo "ratios (photutils timed as a process, as a user runs it, and by its own clock)"
line "polynomial / photutils (process)" "$P" "$U" 0.5
line "spline / photutils (process)" "$S" "$U" 0.5
line "polynomial / source-extractor" "$P" "$X" 1
line "polynomial / photutils (own clock)" "$P" "$W" 0.5
line "spline / photutils (own clock)" "$S" "$W" 0.5
