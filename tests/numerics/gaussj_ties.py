#!/usr/bin/env python3
"""Recomputes the expected bits of the Gauss-Jordan tie test (numrec_test.cpp,
TiesGoToTheLastCandidateInRowMajorOrder).

The elimination with full pivoting is carried out here step by step in IEEE
double precision (Python floats; each product and difference rounded on its
own, as the library is built without fused multiply-add), taking among
pivot candidates of equal magnitude the last in row-major order.  The
results are then checked against the exact inverse and solution in rational
arithmetic: each must be within a few units in the last place of it.

Run: python3 tests/numerics/gaussj_ties.py
"""
from fractions import Fraction
import math

A = [[1.3, 3.0, 0.7], [2.9, 3.0, 0.3], [-3.0, 3.0, -0.9]]
B = [1.0, 0.5, -2.0]


def gauss_jordan(a, b, last_of_ties=True):
    n = len(a)
    a = [row[:] for row in a]
    b = b[:]
    ipiv = [0] * n
    indxr, indxc = [0] * n, [0] * n
    for i in range(n):
        big, irow, icol = 0.0, -1, -1
        for j in range(n):
            if ipiv[j] == 1:
                continue
            for k in range(n):
                if ipiv[k] == 0:
                    v = abs(a[j][k])
                    if v > big or (last_of_ties and v == big):
                        big, irow, icol = v, j, k
        ipiv[icol] += 1
        if irow != icol:
            a[irow], a[icol] = a[icol], a[irow]
            b[irow], b[icol] = b[icol], b[irow]
        indxr[i], indxc[i] = irow, icol
        pivinv = 1.0 / a[icol][icol]
        a[icol][icol] = 1.0
        a[icol] = [x * pivinv for x in a[icol]]
        b[icol] *= pivinv
        for ll in range(n):
            if ll == icol:
                continue
            dum = a[ll][icol]
            a[ll][icol] = 0.0
            a[ll] = [x - y * dum for x, y in zip(a[ll], a[icol])]
            b[ll] -= b[icol] * dum
    for l in range(n - 1, -1, -1):
        if indxr[l] != indxc[l]:
            for row in a:
                row[indxr[l]], row[indxc[l]] = row[indxc[l]], row[indxr[l]]
    return a, b


def exact_inverse(a):
    n = len(a)
    m = [[Fraction(x) for x in row] + [Fraction(int(i == j)) for j in range(n)]
         for i, row in enumerate(a)]
    for c in range(n):
        p = next(r for r in range(c, n) if m[r][c] != 0)
        m[c], m[p] = m[p], m[c]
        m[c] = [x / m[c][c] for x in m[c]]
        for r in range(n):
            if r != c:
                m[r] = [x - y * m[r][c] for x, y in zip(m[r], m[c])]
    return [row[n:] for row in m]


def ulps(x, exact):
    return abs(Fraction(x) - exact) / Fraction(math.ulp(float(exact)))


inv, sol = gauss_jordan(A, B)
exact = exact_inverse(A)
exact_sol = [sum(exact[i][k] * Fraction(B[k]) for k in range(3)) for i in range(3)]
for i in range(3):
    for j in range(3):
        assert ulps(inv[i][j], exact[i][j]) <= 8, (i, j)
    assert ulps(sol[i], exact_sol[i]) <= 8, i

first, first_sol = gauss_jordan(A, B, last_of_ties=False)
print("const double inv[3][3] = {")
for row in inv:
    print("    {" + ", ".join(x.hex() for x in row) + "},")
print("};")
print("const double sol[3] = {" + ", ".join(x.hex() for x in sol) + "};")
changed = sum(x != y for r, s in zip(inv, first) for x, y in zip(r, s))
changed += sum(x != y for x, y in zip(sol, first_sol))
print("// taking the first of equal candidates instead changes %d of the twelve" % changed)
