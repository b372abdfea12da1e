// Dense linear algebra for small systems: LU decomposition with scaled row
// pivoting, substitution, a residual summed in extended precision, iterative
// improvement and inversion. Matrices are square orv::MArray<double, 2> with
// index base 1, the first index the row; N is the last row index.
#ifndef PSFTOOLS_LU_H
#define PSFTOOLS_LU_H

#include "orv/MArray.h"

// Replaces a by its LU form (multipliers of L below the diagonal, U on and
// above it, for the row-permuted matrix), indx by a new array 1..N whose
// element i (i < N) is the row swapped with row i at step i, and d by the
// determinant. A singular matrix (a column without a usable pivot, the last
// one included) or an empty one ends the process with status 255 after
// "matrix singular" or "matrix empty" on standard error; so does a matrix
// that does not hold rows and columns 1..N. The functions below end it the
// same way for a matrix or vector that does not hold the elements they use.
void ludecomp(orv::MArray<double, 2> &a, orv::MArray<int, 1> &indx, double &d);

// Replaces b by the solution x of A·x = b, lu and indx being the result of
// ludecomp on A.
void lubacksub(orv::MArray<double, 2> &lu, orv::MArray<int, 1> &indx, orv::MArray<double, 1> &b);

// r becomes a new array 1..N with r(i) = sum_j a(i, j)·x(j) - b(i), summed in
// extended precision from the smallest term up.
void residuum(orv::MArray<double, 2> &a, orv::MArray<double, 1> &x, orv::MArray<double, 1> &b,
              orv::MArray<double, 1> &r);

// One step of iterative improvement of the solution x of a·x = b, with lu and
// indx from ludecomp on a.
void mprove(orv::MArray<double, 2> &lu, orv::MArray<double, 1> &x, orv::MArray<int, 1> &indx,
            orv::MArray<double, 2> &a, orv::MArray<double, 1> &b);

// Solves A·x = b with `steps` improvement steps; on return A holds the inverse
// and b the solution. Prints its working above verbosity 2.
void lu_iter(orv::MArray<double, 2> &A, orv::MArray<double, 1> &b, int steps, int verbose);

// c(i, j) = sum_k a(i, k)·b(k, j) for i, j = 1..N, N from c; c must not share
// storage with a or b.
void matmult(orv::MArray<double, 2> &c, orv::MArray<double, 2> &a, orv::MArray<double, 2> &b);

// Print a matrix by rows, or a vector, on standard output (15 places,
// precision 8, which stays set).
void matprint(orv::MArray<double, 2> &a);
void vecprint(orv::MArray<double, 1> &v);

#endif
