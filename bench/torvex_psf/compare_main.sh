#!/usr/bin/env bash
# compare_main.sh [REVISION] [ROUNDS] [FILTER]
#
# Builds bench_torvex_psf twice in a temporary folder, from REVISION
# (default 1f8d195, the main branch before the faster transforms) and from
# the working tree, both from this tree's benchmark source so that they time
# the same problems, and runs them side by side: ROUNDS rounds (default 5),
# each running both programs one after the other, in alternating order.
# Prints the median time of every benchmark for both and their ratio, then
# the peak memory of a process that runs one fit alone, for both.
# Nothing is left behind: the baseline is checked out with a temporary
# `git worktree`, removed at the end with the builds.
set -euo pipefail
rev=${1:-1f8d195}
rounds=${2:-5}
filter=${3:-BM_psf_fit|BM_bulge_disk_fit|BM_convolve|BM_cdft2d}

root=$(git -C "$(dirname "$0")" rev-parse --show-toplevel)
tmp=$(mktemp -d /tmp/compare_main.XXXXXX)
cleanup() {
    git -C "$root" worktree remove --force "$tmp/base" 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT

git -C "$root" worktree add --quiet --detach "$tmp/base" "$rev"
cp "$root/bench/torvex_psf/bench_torvex_psf.cpp" "$tmp/base/bench/torvex_psf/"
# Revisions before torvex/ was split by stage keep every header at its top:
# the same routines, included from there.
if [[ ! -d "$tmp/base/torvex/fit" ]]; then
    sed -i -e '/#include "torvex\//d' \
        -e '/#include "numerics\/nrutil.h"/a #include "torvex/components.h"\n#include "torvex/convolve.h"\n#include "torvex/levmar.h"\n#include "torvex/mkmodel.h"\n#include "torvex/psf.h"\n#include "torvex/workarrays.h"' \
        "$tmp/base/bench/torvex_psf/bench_torvex_psf.cpp"
fi

build() { # build SOURCE DIR
    cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release -DSANITIZE=OFF -DBUILD_TESTS=OFF \
        -DBUILD_BENCHMARKS=ON >/dev/null
    cmake --build "$2" -j 8 --target bench_torvex_psf >/dev/null
}
echo "building $rev and the working tree in $tmp ..."
build "$tmp/base" "$tmp/build-base"
build "$root" "$tmp/build-new"

for ((r = 1; r <= rounds; r++)); do
    order=(base new)
    if ((r % 2 == 0)); then order=(new base); fi
    for which in "${order[@]}"; do
        "$tmp/build-$which/bin/bench_torvex_psf" --benchmark_filter="$filter" \
            --benchmark_format=json >"$tmp/$which.$r.json" 2>/dev/null
    done
    echo "round $r of $rounds done"
done

# Peak resident memory (kB) of a process running one benchmark alone.
peak() { # peak BINARY FILTER
    python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$1" --benchmark_filter="$2"
}
memory=()
for fit in BM_psf_fit BM_bulge_disk_fit; do
    memory+=("$fit $(peak "$tmp/build-base/bin/bench_torvex_psf" "$fit") $(peak "$tmp/build-new/bin/bench_torvex_psf" "$fit")")
done

python3 - "$tmp" "$rounds" "$rev" "${memory[@]}" <<'PY'
import json, statistics, sys
tmp, rounds, rev = sys.argv[1], int(sys.argv[2]), sys.argv[3]
times = {"base": {}, "new": {}}
chi2 = {"base": {}, "new": {}}
order = []
for which in times:
    for r in range(1, rounds + 1):
        with open(f"{tmp}/{which}.{r}.json") as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("run_type", "iteration") != "iteration" or "error_occurred" in b:
                    continue
                name = b["name"]
                if name not in order:
                    order.append(name)
                times[which].setdefault(name, []).append(b["real_time"])
                if "chi2" in b:
                    chi2[which][name] = b["chi2"]
print(f"\nmedians of {rounds} rounds; time unit as the benchmark reports it")
print(f"{'benchmark':40s} {rev:>12s} {'this tree':>12s} {'speed-up':>9s}")
for name in order:
    if name in times["base"] and name in times["new"]:
        b = statistics.median(times["base"][name])
        n = statistics.median(times["new"][name])
        print(f"{name:40s} {b:12.4g} {n:12.4g} {b / n:9.2f}")
for name in order:
    if name in chi2["base"] and name in chi2["new"]:
        print(f"final chi^2 of {name}: {chi2['base'][name]:.12g} and {chi2['new'][name]:.12g}")
for line in sys.argv[4:]:
    name, base, new = line.split()
    print(f"peak memory of a process running {name} alone: {int(base) / 1024:.1f} MB and "
          f"{int(new) / 1024:.1f} MB")
PY
