#!/usr/bin/env python3
"""Prints time(orv) / time(raw) for every benchmark pair of bench_orv.

Usage: bench_orv --benchmark_format=json [--benchmark_repetitions=5] | bench/orv/ratios.py
With repetitions the fastest run of each benchmark counts: on a shared
machine the other processes only ever add time.
"""
import json
import sys

best = {}
for b in json.load(sys.stdin)["benchmarks"]:
    if b.get("run_type", "iteration") != "iteration" or "error_occurred" in b:
        continue
    name = b.get("run_name", b["name"])
    best[name] = min(best.get(name, float("inf")), b["real_time"])

worst = 0.0
for name, t in best.items():
    if name.endswith("/orv") and name[:-3] + "raw" in best:
        ratio = t / best[name[:-3] + "raw"]
        worst = max(worst, ratio)
        print(f"{name[:-4]:40s} {ratio:6.2f}")
print(f"{'worst':40s} {worst:6.2f}")
