#!/usr/bin/python3
"""Peak memory of star finding (psf::find at verbosity 0, through
build/bin/find_stars) and of the best-source maps (find_stars --best, that
is psf::mapping_full_best_source) beside photutils' DAOStarFinder, on the
generated field of compare_find.py at several sizes.

Usage: bench/psftools/find_memory.py [SIDE ...] [--find-stars PATH]
       (default sides 1024 2048 4096, default build/bin/find_stars)

Each field is that of compare_find.py with 1000 stars per 1024 x 1024
pixels. Every program runs once per size, one after the other; the table
gives the peak resident memory of the whole process (the image and error
arrays, and for DAOStarFinder the Python interpreter, included) and the
program's own clock of the search. The targets: find at most 350 MB at
2048² and at most 800 MB at 4096²; the best-source maps at most 500 MB at
2048².
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_find as cf  # noqa: E402  (installs photutils when missing)

TARGETS = {("find", 2048): 350, ("find", 4096): 800, ("best", 2048): 500}


def main():
    args = sys.argv[1:]
    ours = cf.find_stars_option(args)
    sides = [int(a) for a in args] or [1024, 2048, 4096]
    programs = {
        "find": [ours, "field.fits", "e.field.fits", "find.txt"],
        "best": [ours, "--best", "field.fits", "e.field.fits", "best.txt"],
        "DAOStarFinder": ["/usr/bin/python3", os.path.join(cf.here, "daofind.py"),
                          "field.fits", "dao.txt"],
    }
    rows = []
    for side in sides:
        with tempfile.TemporaryDirectory(prefix="find_memory.") as folder:
            cf.make_field(folder, side, round(1000 * side * side / 1024**2))
            for name, command in programs.items():
                output, _, _, peak = cf.run(command, folder)
                target = TARGETS.get((name, side))
                verdict = "" if target is None else \
                    f"target {target} MB {'met' if peak <= target else 'missed'}"
                rows.append((side, name, cf.own_clock(output), peak, verdict))
                print(f"{side}: {name} {peak:.0f} MB", flush=True)
    print()
    print(f"  {'side':>5} {'program':<14} {'own clock':>10} {'peak':>9}")
    for side, name, clock, peak, verdict in rows:
        print(f"  {side:>5} {name:<14} {clock:>8.3f} s {peak:>6.0f} MB  {verdict}")


if __name__ == "__main__":
    main()
